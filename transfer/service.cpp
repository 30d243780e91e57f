#include <string.h>

#include "service.h"

void
quill_fill_service(struct sockaddr_in *service)
{
	memset(service, 0, sizeof(*service));
	service->sin_family = AF_INET;
	service->sin_addr.s_addr = htonl(INADDR_ANY);
	service->sin_port = htons(QUILL_PORT);
}
