/*
 * The address the senders listen on. Only they include this: it needs the
 * platform's socket headers, which a receiver's network stack may lack.
 */
#ifndef QUILL_SERVICE_H
#define QUILL_SERVICE_H

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#endif

#include "transfer.h"

/*
 * Fills *service with the listening address: zeros over the whole record,
 * then IPv4, every local address, port QUILL_PORT. Cannot fail.
 */
void	quill_fill_service(struct sockaddr_in *service);

#endif
