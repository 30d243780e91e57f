/*
 * lwip: a port of the quillsend receiving core to lwIP's raw API, the
 * model for a device whose TCP stack calls it with each segment that
 * arrives. Connects to a sender, receives one file into the current
 * folder and says what became of it, as example.c does.
 *
 *	lwip HOST [PORT]
 *
 * HOST is the sender's IPv4 address, PORT its port (default 21). Here lwIP
 * runs in a Linux process over a tap interface, tap0 (another with
 * PRECONFIGURED_TAPIF=NAME), which must exist with an address on HOST's
 * network; lwIP takes ADDRESS on it. Exit status 0 only when the file was
 * saved.
 */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* lwIP's Unix port declares some of its functions for C only. */
#ifdef __cplusplus
extern "C" {
#endif
#include "lwip/tcp.h"
#include "lwip/tcpip.h"
#include "netif/tapif.h"
#ifdef __cplusplus
}
#endif

#include "names.h"
#include "receive.h"

#ifndef TIMEOUT_S
#define TIMEOUT_S	30		/* no byte for this long: give up */
#endif
#define ROOM		(64L * 1024 * 1024)	/* the storage's free bytes */
#define ADDRESS		"192.168.0.2"	/* the device's own */
#define NETMASK		"255.255.255.0"
/*
 * The largest frame the device takes: lwIP announces segments that fit,
 * and the Unix tap driver is not safe with full Ethernet frames.
 */
#define MTU		576

/* The port's state, which the core hands to each quill_port_* call. */
struct port {
	int		 out;		/* the staged file, or -1 */
	char		 staged[QUILL_MAX_NAME + 8];	/* its name: .BASE.part */
	char		 failed[128];	/* why the port failed */
	int		 connected;	/* the sender accepted */
	int		 idle;		/* seconds without a byte */
	sys_sem_t	 done;		/* signalled once it has ended */
};

/* Records why the port failed, for main to say; returns -1. */
static int
failure(struct port *p, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(p->failed, sizeof(p->failed), fmt, ap);
	va_end(ap);
	return -1;
}

/*
 * The storage is POSIX files in the current folder, as in example.c: a
 * device has its flash instead.
 *
 * Stages a file for base, which the core has checked, before any data.
 * Returns 0, or -1 with the reason recorded when the file would not fit,
 * the storage refuses the name or the staged file cannot be made.
 */
int
quill_port_open(struct quill_receiver *r, const char *base)
{
	struct port *p = (struct port *)r->port;

	if (r->dec.size > ROOM)
		return failure(p, "is %ld bytes, more than the %ld there is "
		    "room for", (long)r->dec.size, ROOM);
	/* What a FAT volume refuses; a port may map them instead. */
	if (strpbrk(base, ":?*\"<>|") != NULL)
		return failure(p, "holds a character the storage refuses");
	if (snprintf(p->staged, sizeof(p->staged), ".%s.part", base) >=
	    (int)sizeof(p->staged))
		return failure(p, "is too long to stage");
	/* A staged file left by a run that died is ours to reuse. */
	if ((p->out = open(p->staged, O_WRONLY | O_CREAT | O_TRUNC |
	    O_NOFOLLOW, 0666)) < 0)
		return failure(p, "could not be staged: %s", strerror(errno));
	return 0;
}

/* Writes all len bytes to the staged file. Returns 0, or -1. */
int
quill_port_write(struct quill_receiver *r, const unsigned char *data,
    size_t len)
{
	struct port *p = (struct port *)r->port;
	ssize_t w;

	for (; len > 0; data += w, len -= (size_t)w)
		if ((w = write(p->out, data, len)) < 0)
			return failure(p, "could not be written: %s",
			    strerror(errno));
	return 0;
}

/*
 * Gives the whole staged file its name: its data reaches the storage
 * first, so the name never stands for less. Returns 0, or -1.
 */
int
quill_port_commit(struct quill_receiver *r)
{
	struct port *p = (struct port *)r->port;
	int e;

	if (fsync(p->out) < 0)
		return failure(p, "could not be kept: %s", strerror(errno));
	e = close(p->out);
	p->out = -1;
	if (e < 0 || rename(p->staged, r->base) < 0)
		return failure(p, "could not be kept: %s", strerror(errno));
	return 0;
}

/* Throws the staged file away, whatever stage it got to. */
void
quill_port_discard(struct quill_receiver *r)
{
	struct port *p = (struct port *)r->port;

	if (p->out >= 0)
		close(p->out);
	p->out = -1;
	unlink(p->staged);
}

/*
 * The network side. lwIP calls these in its own thread, one at a time;
 * main waits until one has ended the transfer.
 *
 * The transfer has ended (r->result says how), or the connection was
 * never made: lets go of pcb (NULL when lwIP has freed it), closing it or
 * else resetting it, and wakes main. Returns what the callback that ends
 * it returns to lwIP: ERR_ABRT when pcb was reset.
 */
static err_t
finish(struct port *p, struct tcp_pcb *pcb)
{
	err_t e = ERR_OK;

	if (pcb != NULL) {
		/* No callback of ours may run once main goes on. */
		tcp_arg(pcb, NULL);
		tcp_recv(pcb, NULL);
		tcp_err(pcb, NULL);
		tcp_poll(pcb, NULL, 0);
		if (tcp_close(pcb) != ERR_OK) {
			tcp_abort(pcb);
			e = ERR_ABRT;
		}
	}
	sys_sem_signal(&p->done);
	return e;
}

/* The sender accepted: only now can a failure be the transfer's. */
static err_t
connected(void *arg, struct tcp_pcb *pcb, err_t err)
{
	struct quill_receiver *r = (struct quill_receiver *)arg;

	(void)pcb;
	(void)err;
	((struct port *)r->port)->connected = 1;
	return ERR_OK;
}

/*
 * Bytes arrived, in a chain of pbufs, or the sender closed (p NULL): the
 * core takes each payload where it lies. Returns ERR_OK, or ERR_ABRT once
 * the connection is reset.
 */
static err_t
received(void *arg, struct tcp_pcb *pcb, struct pbuf *p, err_t err)
{
	struct quill_receiver *r = (struct quill_receiver *)arg;
	struct pbuf *q;

	(void)err;
	if (p == NULL) {
		quill_ended(r, QUILL_CLOSED);
		return finish((struct port *)r->port, pcb);
	}
	((struct port *)r->port)->idle = 0;
	for (q = p; q != NULL && r->result == QUILL_MORE; q = q->next)
		if (q->len > 0)
			quill_push(r, (const unsigned char *)q->payload, q->len);
	/* Taken and stored: the window opens for more. */
	tcp_recved(pcb, p->tot_len);
	pbuf_free(p);
	if (r->result != QUILL_MORE)
		return finish((struct port *)r->port, pcb);
	return ERR_OK;
}

/* Called each second: gives up after TIMEOUT_S without a byte. */
static err_t
ticked(void *arg, struct tcp_pcb *pcb)
{
	struct quill_receiver *r = (struct quill_receiver *)arg;
	struct port *p = (struct port *)r->port;

	if (++p->idle < TIMEOUT_S)
		return ERR_OK;
	if (p->connected)
		quill_ended(r, QUILL_TIMEDOUT);
	else
		failure(p, "%s", strerror(ETIMEDOUT));
	return finish(p, pcb);
}

/* The connection failed, and lwIP has freed it. */
static void
failed(void *arg, err_t err)
{
	struct quill_receiver *r = (struct quill_receiver *)arg;
	struct port *p = (struct port *)r->port;

	if (p->connected) {
		failure(p, "connection: %s", strerror(err_to_errno(err)));
		quill_ended(r, QUILL_READFAIL);
	} else	/* a reset before the connection is made is a refusal */
		failure(p, "%s", strerror(err == ERR_RST ? ECONNREFUSED :
		    err_to_errno(err)));
	finish(p, NULL);
}

/*
 * Writes s to f escaped (quill_escape), a piece at a time through a small
 * buffer: a device has no RAM to spare for the whole name.
 */
static void
show(FILE *f, const char *s)
{
	char piece[64];

	while (*s != '\0') {
		s += quill_escape(piece, sizeof(piece), s);
		fputs(piece, f);
	}
}

/*
 * Writes the name the sender gave as the core kept it, escaped: a name cut
 * to its base (longer than QUILL_MAX_NAME) with ".../" for what was
 * dropped.
 */
static void
show_name(FILE *f, const struct quill_decoder *d)
{
	if (d->cut)
		fputs(".../", f);
	show(f, d->name);
}

/*
 * The code page the senders' names are in when they are not UTF-8 (names.h):
 * 932, 936, 949 or 950 where they run Windows in Japanese, Chinese or
 * Korean, 0 for one byte a character. A device sets it with -D.
 */
#ifndef QUILL_CODEPAGE
#define QUILL_CODEPAGE	0
#endif

int
main(int argc, char *argv[])
{
	/* Static, not on the stack: a device's stack is small. */
	static struct quill_receiver r;
	static struct port port;
	static struct netif netif;
	static ip4_addr_t me, mask, gw;
	static ip_addr_t host;
	const char *service = "21";
	struct tcp_pcb *pcb;
	char *end;
	long to;
	err_t e;

	/* Arguments */
	if (argc < 2 || argc > 3) {
		fputs("usage: lwip HOST [PORT]\n", stderr);
		return 2;
	}
	if (argc > 2)
		service = argv[2];
	to = strtol(service, &end, 10);
	if (!ip4addr_aton(argv[1], ip_2_ip4(&host)) || *end != '\0' ||
	    to < 1 || to > 65535) {
		fprintf(stderr, "lwip: %s port %s: not an IPv4 address and "
		    "port\n", argv[1], service);
		return 1;
	}
	IP_SET_TYPE_VAL(host, IPADDR_TYPE_V4);
	ip4addr_aton(ADDRESS, &me);
	ip4addr_aton(NETMASK, &mask);

	/*
	 * Bring up the stack. Its owner configured the tap: without this
	 * tapif would run ifconfig on it.
	 */
	setenv("PRECONFIGURED_TAPIF", "tap0", 0);
	tcpip_init(NULL, NULL);
	if (sys_sem_new(&port.done, 0) != ERR_OK) {
		fputs("lwip: no semaphore\n", stderr);
		return 1;
	}
	port.out = -1;
	r.codepage = QUILL_CODEPAGE;	/* kept by quill_begin */
	quill_begin(&r, &port);

	/* Connect; from here on, lwIP's thread calls the rest. */
	LOCK_TCPIP_CORE();
	netif_add(&netif, &me, &mask, &gw, NULL, tapif_init, tcpip_input);
	netif.mtu = MTU;
	netif_set_default(&netif);
	netif_set_up(&netif);
	if ((pcb = tcp_new()) == NULL)
		e = ERR_MEM;
	else if ((e = tcp_connect(pcb, &host, (u16_t)to, connected)) ==
	    ERR_OK) {
		tcp_arg(pcb, &r);
		tcp_recv(pcb, received);
		tcp_err(pcb, failed);
		tcp_poll(pcb, ticked, 2);	/* in half seconds */
	} else
		tcp_close(pcb);
	UNLOCK_TCPIP_CORE();
	/*
	 * Debian's lwIP has its own thread; a device without threads (NO_SYS
	 * 1) polls its driver and sys_check_timeouts here until done.
	 */
	if (e == ERR_OK)
		sys_sem_wait(&port.done);
	else
		failure(&port, "%s", strerror(err_to_errno(e)));
	if (!port.connected) {
		fprintf(stderr, "lwip: connect to %s port %s: %s\n", argv[1],
		    service, port.failed);
		return 1;
	}

	/*
	 * Say what became of the file. The name is only ever shown escaped,
	 * and only once the header is whole: before, it is no string yet.
	 */
	if (r.result == QUILL_SAVED) {
		fputs("received ", stdout);
		show_name(stdout, &r.dec);
		printf(": %ld bytes, saved as ", (long)r.dec.size);
		show(stdout, r.base);
		putchar('\n');
		return 0;
	}
	fputs("lwip: not saved: ", stderr);
	if (r.result != QUILL_READ_FAILED && r.dec.stage == QUILL_DATA) {
		fputc('"', stderr);
		show_name(stderr, &r.dec);
		fputc('"', stderr);
	}
	switch (r.result) {
	case QUILL_BAD_NAME:
		fprintf(stderr, " %s\n", r.why);
		break;
	case QUILL_NOT_OPENED:
	case QUILL_WRITE_FAILED:
	case QUILL_COMMIT_FAILED:
		fprintf(stderr, " %s\n", port.failed);
		break;
	case QUILL_READ_FAILED:
		fprintf(stderr, "%s\n", port.failed);
		break;
	default:
		if (r.dec.stage == QUILL_DATA)
			fprintf(stderr, ": %s (%ld of %ld bytes)\n", r.why,
			    (long)r.dec.received, (long)r.dec.size);
		else
			fprintf(stderr, "%s\n", r.why);
	}
	return 1;
}
