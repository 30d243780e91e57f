/*
 * quillsend_win: send one file to the device that connects to TCP port 21,
 * then end.
 *
 *	quillsend_win file
 *
 * Listens on every local IPv4 address, accepts one connection, writes the
 * file's name, size and content on it (see transfer/transfer.h), closes
 * and exits. Returns 0 when the file went out, -1 when it could not.
 */
#include <winsock2.h>

#include <sys/types.h>
#include <sys/stat.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "service.h"

/*
 * Sends all len bytes of buf on s. Returns 0, or -1 when a send fails; a
 * failed send never counts as bytes sent.
 */
static int
send_field(SOCKET s, const void *buf, int len)
{
	const char *p = (const char *)buf;
	int n;

	while (len > 0) {
		if ((n = send(s, p, len, 0)) == SOCKET_ERROR)
			return -1;
		p += n;
		len -= n;
	}
	return 0;
}

/*
 * Ends a run that has accepted the receiver but cannot send the whole
 * file: the receiver sees the stream end short, main returns -1.
 */
static int
abandon(SOCKET s, SOCKET cs, FILE *inf)
{
	if (inf != NULL)
		fclose(inf);
	closesocket(cs);
	closesocket(s);
	WSACleanup();
	return -1;
}

int
main(int argc, char *argv[])
{
	static char inbuf[QUILL_READ_BUFFER];
	char Buffer[QUILL_CHUNK];
	struct sockaddr_in service;
	unsigned char field[QUILL_FIELD];
	struct _stat64 st;
	WSADATA wsd;
	FILE *inf;
	__int64 size;
	int32_t namelen, totbytes;
	long long left;
	int count, pos, n;
	SOCKET s, cs;

	if (argc < 2)
		return 0;
	printf("Preparing to send %s\n", argv[1]);

	/* Windows Sockets */
	if (WSAStartup(MAKEWORD(2, 2), &wsd) != 0) {
		printf("Winsock not initialised!\n");
		return -1;
	}

	/* Listening socket */
	if ((s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) == INVALID_SOCKET) {
		printf("Invalid socket!\n");
		return -1;
	}

	/*
	 * No SO_REUSEADDR, on purpose: on Windows it would let another program
	 * bind port 21 as well and take the device's connection.
	 */
	quill_fill_service(&service);
	if (bind(s, (struct sockaddr *)&service, sizeof(service)) ==
	    SOCKET_ERROR) {
		printf("bind error!\n");
		return -1;
	}
	printf("Waiting for connection...\n");

	if (listen(s, QUILL_BACKLOG) == SOCKET_ERROR) {
		printf("listen() error!\n");
		return -1;
	}

	/* Wait for the receiver; a failed accept is simply tried again. */
	while ((cs = accept(s, NULL, NULL)) == INVALID_SOCKET)
		continue;

	/* Header: the name */
	printf("Sending %s", argv[1]);
	namelen = (int32_t)(strlen(argv[1]) + 1);
	quill_put_i32le(field, namelen);
	if (send_field(cs, field, sizeof(field)) < 0 ||
	    send_field(cs, argv[1], namelen) < 0) {
		printf("\nsend error!\n");
		return abandon(s, cs, NULL);
	}

	/* The file: only a regular file has a size to announce. */
	if (fopen_s(&inf, argv[1], QUILL_FILE_MODE) != 0 || inf == NULL) {
		printf("\nCannot open %s!\n", argv[1]);
		return abandon(s, cs, NULL);
	}
	setvbuf(inf, inbuf, _IOFBF, sizeof(inbuf));
	if (_fstat64(_fileno(inf), &st) != 0 ||
	    (st.st_mode & _S_IFMT) != _S_IFREG ||
	    _fseeki64(inf, 0, SEEK_END) != 0 || (size = _ftelli64(inf)) < 0) {
		printf("\n%s is not a file!\n", argv[1]);
		return abandon(s, cs, inf);
	}
	if (size > QUILL_MAX_SIZE) {
		printf("\n%s is too large: %lld bytes, the limit is %d!\n",
		    argv[1], (long long)size, QUILL_MAX_SIZE);
		return abandon(s, cs, inf);
	}
	totbytes = (int32_t)size;

	/* Header: the size */
	quill_put_i32le(field, totbytes);
	if (send_field(cs, field, sizeof(field)) < 0) {
		printf("\nsend error!\n");
		return abandon(s, cs, inf);
	}
	_fseeki64(inf, 0, SEEK_SET);

	/*
	 * Data, one chunk at a time. To the end of the file, not to the size
	 * announced: a file that grew goes out whole and the run then fails,
	 * which a receiver that reads to the end of the connection sees too.
	 */
	left = totbytes;
	while (!feof(inf)) {
		count = (int)fread(Buffer, 1, sizeof(Buffer), inf);
		if (ferror(inf)) {
			printf("\nread error!\n");
			return abandon(s, cs, inf);
		}
		pos = 0;
		while (count != 0) {
			if ((n = send(cs, Buffer + pos, count, 0)) ==
			    SOCKET_ERROR) {
				printf("\nsend error!\n");
				return abandon(s, cs, inf);
			}
			count -= n;
			pos += n;
			left -= n;
		}
	}
	fclose(inf);

	/* The file changed while it was read: what went out is not the file. */
	if (left != 0) {
		printf("\n%s changed while sending: announced %d bytes, sent "
		    "%lld!\n", argv[1], totbytes, totbytes - left);
		return abandon(s, cs, NULL);
	}

	/* Done */
	closesocket(cs);
	closesocket(s);
	WSACleanup();
	return 0;
}
