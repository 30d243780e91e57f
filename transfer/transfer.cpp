#include <string.h>

#include "transfer.h"

void
quill_fill_service(struct sockaddr_in *service)
{
	memset(service, 0, sizeof(*service));
	service->sin_family = AF_INET;
	service->sin_addr.s_addr = htonl(INADDR_ANY);
	service->sin_port = htons(QUILL_PORT);
}

void
quill_put_i32le(unsigned char out[QUILL_FIELD], int32_t v)
{
	uint32_t u = (uint32_t)v;

	out[0] = (unsigned char)(u & 0xff);
	out[1] = (unsigned char)((u >> 8) & 0xff);
	out[2] = (unsigned char)((u >> 16) & 0xff);
	out[3] = (unsigned char)((u >> 24) & 0xff);
}

int32_t
quill_get_i32le(const unsigned char in[QUILL_FIELD])
{
	uint32_t u = (uint32_t)in[0] | (uint32_t)in[1] << 8 |
	    (uint32_t)in[2] << 16 | (uint32_t)in[3] << 24;

	/* Two's complement by arithmetic, so no implementation-defined cast. */
	return u <= (uint32_t)INT32_MAX ? (int32_t)u :
	    (int32_t)(u - (uint32_t)INT32_MAX - 1) + INT32_MIN;
}
