/* A receiver that takes everything as fast as it can and keeps nothing. */
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <err.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int
main(void)
{
	static char buf[256 * 1024];
	struct timespec ms = { 0, 1000000 };
	struct sockaddr_in sa;
	long long total = 0;
	ssize_t n;
	int fd, tries;

	memset(&sa, 0, sizeof(sa));
	sa.sin_family = AF_INET;
	sa.sin_port = htons(21);
	sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	for (tries = 0;; tries++) {
		if ((fd = socket(AF_INET, SOCK_STREAM, 0)) < 0)
			err(1, "socket");
		if (connect(fd, (struct sockaddr *)&sa, sizeof(sa)) == 0)
			break;
		if (errno != ECONNREFUSED || tries > 10000)
			err(1, "connect");
		close(fd);
		nanosleep(&ms, NULL);
	}
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		total += n;
	printf("%lld\n", total);
	return n < 0;
}
