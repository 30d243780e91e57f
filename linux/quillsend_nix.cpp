/*
 * quillsend_nix: send one file to the device (the DS) that connects to
 * TCP port 21, then end.
 *
 *	quillsend_nix file
 *
 * Listens on every local IPv4 address, accepts one connection, writes the
 * file's name, size and content on it (see transfer/transfer.h), closes
 * and exits. Narrates every stage on standard output.
 */
#include <sys/types.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>

#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "service.h"

/*
 * Sends all len bytes of buf on fd. Returns 0, or -1 with errno set when a
 * send fails; a failed send never counts as bytes sent.
 */
static int
send_field(int fd, const void *buf, size_t len)
{
	const char *p = (const char *)buf;
	ssize_t n;

	while (len > 0) {
		if ((n = send(fd, p, len, 0)) < 0)
			return -1;
		p += n;
		len -= (size_t)n;
	}
	return 0;
}

/*
 * Ends a run that has accepted the receiver but cannot send the whole
 * file: the receiver sees the stream end short, the user sees exit 1.
 * Does not return.
 */
static void __attribute__((noreturn))
abandon(int fd, int cfd, FILE *inf)
{
	if (inf != NULL)
		fclose(inf);
	close(fd);
	close(cfd);
	exit(1);
}

int
main(int argc, char *argv[])
{
	static char inbuf[QUILL_READ_BUFFER];
	char Buffer[QUILL_CHUNK];
	struct sockaddr_in service;
	unsigned char field[QUILL_FIELD];
	struct stat st;
	FILE *inf;
	off_t size;
	int32_t namelen, totbytes;
	long long left;
	size_t count, pos;
	ssize_t n;
	int fd, cfd, one = 1, status, err;

	if (argc <= 1)
		return 0;
	/*
	 * A receiver that goes away must make send fail, not kill the
	 * process: the narration is only printed when the program exits.
	 */
	signal(SIGPIPE, SIG_IGN);
	printf("Preparing to send %s\n", argv[1]);

	/* Listening socket */
	if ((fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) < 0) {
		perror("socket (client)");
		exit(1);
	}
	printf("socket %d\n", fd);

	/* A run right after another must not wait for TIME_WAIT to pass. */
	if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) == -1) {
		perror("setsockopt(fd,SOL_SOCKET, SO_REUSEADDR,1)");
		exit(1);
	}
	puts("setsockopt ok");

	quill_fill_service(&service);
	if ((status = bind(fd, (struct sockaddr *)&service,
	    sizeof(service))) < 0) {
		err = errno;	/* printf may change errno */
		printf("failed to bind status=%d errno=%d\n", status, err);
		printf("error codes: %d %d %d %d %d %d %d %d %d %d %d %d %d %d "
		    "%d\n", EACCES, EADDRINUSE, EBADF, EINVAL, ENOTSOCK, EACCES,
		    EADDRNOTAVAIL, EFAULT, EINVAL, ELOOP, ENAMETOOLONG, ENOENT,
		    ENOMEM, ENOTDIR, EROFS);
		return err;
	}
	printf("bind ok %d\n", status);

	if (listen(fd, QUILL_BACKLOG) < 0) {
		perror("listen");
		exit(1);
	}
	puts("listen");

	/* Wait for the receiver; a failed accept is simply tried again. */
	for (;;) {
		puts("waiting for DS connection (b4 accept)");
		cfd = accept(fd, NULL, NULL);
		puts("aft accept");
		if (cfd >= 0)
			break;
		printf("as accept error %d\n", cfd);
	}

	/* Header: the name */
	printf("Sending %s", argv[1]);
	namelen = (int32_t)(strlen(argv[1]) + 1);
	quill_put_i32le(field, namelen);
	if (send_field(cfd, field, sizeof(field)) < 0 ||
	    send_field(cfd, argv[1], (size_t)namelen) < 0) {
		printf("\n");
		perror("send");
		abandon(fd, cfd, NULL);
	}

	/*
	 * The file. Only a regular file has a size to announce; checking
	 * first also keeps a fifo from blocking the open.
	 */
	if (stat(argv[1], &st) == 0 && !S_ISREG(st.st_mode)) {
		printf("\n");
		fprintf(stderr, "%s: not a regular file\n", argv[1]);
		abandon(fd, cfd, NULL);
	}
	if ((inf = fopen(argv[1], QUILL_FILE_MODE)) == NULL) {
		printf("\n");
		perror(argv[1]);
		abandon(fd, cfd, NULL);
	}
	setvbuf(inf, inbuf, _IOFBF, sizeof(inbuf));
	if (fseeko(inf, 0, SEEK_END) != 0 || (size = ftello(inf)) < 0) {
		printf("\n");
		perror(argv[1]);
		abandon(fd, cfd, inf);
	}
	if (size > QUILL_MAX_SIZE) {
		printf("\n");
		fprintf(stderr, "%s: file too large to send (%lld bytes, "
		    "the limit is %d)\n", argv[1], (long long)size,
		    QUILL_MAX_SIZE);
		abandon(fd, cfd, inf);
	}
	totbytes = (int32_t)size;
	printf(" totbytes=%d\n", totbytes);

	/* Header: the size */
	quill_put_i32le(field, totbytes);
	if (send_field(cfd, field, sizeof(field)) < 0) {
		perror("send");
		abandon(fd, cfd, inf);
	}
	fseeko(inf, 0, SEEK_SET);

	/*
	 * Data, one chunk at a time; after each send, the bytes still to go.
	 * To the end of the file, not to the size announced: a file that grew
	 * goes out whole and the run then fails, which a receiver that reads
	 * to the end of the connection sees too.
	 */
	left = totbytes;
	while (!feof(inf)) {
		count = fread(Buffer, 1, sizeof(Buffer), inf);
		if (ferror(inf)) {
			perror(argv[1]);
			abandon(fd, cfd, inf);
		}
		pos = 0;
		while (count != 0) {
			if ((n = send(cfd, Buffer + pos, count, 0)) < 0) {
				perror("send");
				abandon(fd, cfd, inf);
			}
			count -= (size_t)n;
			pos += (size_t)n;
			left -= n;
			printf("%lld\n", left);
		}
	}
	fclose(inf);

	/* The file changed while it was read: what went out is not the file. */
	if (left != 0) {
		fprintf(stderr, "%s: file changed while sending: announced %d "
		    "bytes, sent %lld\n", argv[1], totbytes, totbytes - left);
		abandon(fd, cfd, NULL);
	}
	puts("\nComplete.");

	/* Done */
	close(fd);
	close(cfd);
	return 0;
}
