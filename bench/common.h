/* Listening on port 21 the way the senders do, for the reference senders. */
#include <sys/socket.h>
#include <netinet/in.h>
#include <err.h>
#include <string.h>

/* Returns the connection of the first receiver on port 21; exits on failure. */
static int
accept_one(void)
{
	struct sockaddr_in sa;
	int fd, cfd, one = 1;

	if ((fd = socket(AF_INET, SOCK_STREAM, 0)) < 0)
		err(1, "socket");
	setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
	memset(&sa, 0, sizeof(sa));
	sa.sin_family = AF_INET;
	sa.sin_port = htons(21);
	if (bind(fd, (struct sockaddr *)&sa, sizeof(sa)) < 0 || listen(fd, 1) < 0)
		err(1, "bind/listen");
	if ((cfd = accept(fd, NULL, NULL)) < 0)
		err(1, "accept");
	return cfd;
}
