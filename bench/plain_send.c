/* The floor: a bare 4 KiB fread/send loop, no header, no output. */
#include <stdio.h>
#include <unistd.h>

#include "common.h"

int
main(int argc, char *argv[])
{
	char buf[4096];
	size_t n, off;
	ssize_t k;
	FILE *f;
	int cfd;

	if (argc != 2 || (f = fopen(argv[1], "rb")) == NULL)
		errx(1, "usage: plain_send file");
	cfd = accept_one();
	while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
		for (off = 0; off < n; off += (size_t)k)
			if ((k = send(cfd, buf + off, n - off, 0)) < 0)
				err(1, "send");
	close(cfd);
	return 0;
}
