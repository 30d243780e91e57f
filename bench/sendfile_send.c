/* The ceiling: the kernel copies the file to the socket (sendfile). */
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include "common.h"

int
main(int argc, char *argv[])
{
	struct stat st;
	off_t off = 0;
	int fd, cfd;

	if (argc != 2 || (fd = open(argv[1], O_RDONLY)) < 0 || fstat(fd, &st) < 0)
		errx(1, "usage: sendfile_send file");
	cfd = accept_one();
	while (off < st.st_size)
		if (sendfile(cfd, fd, &off, (size_t)(st.st_size - off)) < 0)
			err(1, "sendfile");
	close(cfd);
	return 0;
}
