/*
 * Forced into a test build of quillsend_win to cause what cannot be caused
 * from outside; Windows Sockets calls are imported from a DLL, so they are
 * replaced at compile time. Names in QUILL_FAULTS (see faults.h):
 *
 *	wsastartup=1, socket=1, listen=1	the call fails
 *	accept=K	the first K accepts fail
 *	sendmax=N	each send takes at most N bytes
 *	sendfail=K	the K-th send, counting from 1, fails
 *	readfail=N	reads fail once N bytes have been read
 */
#ifndef QUILL_WINFAULTS_H
#define QUILL_WINFAULTS_H

#include <winsock2.h>

#include <stdio.h>

#define QUILL_FAULT_NAMES \
	",wsastartup,socket,listen,accept,sendmax,sendfail,readfail,"
#include "faults.h"

static int
fault_WSAStartup(WORD version, LPWSADATA wsd)
{
	return quill_fault("wsastartup") > 0 ? WSASYSNOTREADY :
	    WSAStartup(version, wsd);
}

static SOCKET
fault_socket(int af, int type, int protocol)
{
	return quill_fault("socket") > 0 ? INVALID_SOCKET :
	    socket(af, type, protocol);
}

static int
fault_listen(SOCKET s, int backlog)
{
	return quill_fault("listen") > 0 ? SOCKET_ERROR : listen(s, backlog);
}

static SOCKET
fault_accept(SOCKET s, struct sockaddr *addr, int *len)
{
	static long failed;

	if (failed < quill_fault("accept")) {
		failed++;
		return INVALID_SOCKET;
	}
	return accept(s, addr, len);
}

static int
fault_send(SOCKET s, const char *buf, int len, int flags)
{
	static long calls;
	long max = quill_fault("sendmax");

	if (++calls == quill_fault("sendfail"))
		return SOCKET_ERROR;
	if (max > 0 && len > max)
		len = (int)max;
	return send(s, buf, len, flags);
}

static int read_failed;

static size_t
fault_fread(void *buf, size_t size, size_t n, FILE *f)
{
	static long long total;
	long at = quill_fault("readfail");
	size_t got;

	if (at >= 0 && total >= at) {
		read_failed = 1;
		return 0;
	}
	got = fread(buf, size, n, f);
	total += (long long)(got * size);
	return got;
}

/* A failed read shows as the stream's error flag. */
static int
fault_ferror(FILE *f)
{
	return read_failed || ferror(f);
}

#define WSAStartup	fault_WSAStartup
#define socket		fault_socket
#define listen		fault_listen
#define accept		fault_accept
#define send		fault_send
#define fread		fault_fread
#define ferror		fault_ferror

#endif
