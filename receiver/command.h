/*
 * quillrecv's command, the same on every host: its options, what it draws
 * on a terminal and the words that say why a transfer ended. quillrecv.cpp
 * (POSIX) and quillrecv_win.cpp (Windows) are the ports around it and
 * around the receiving core.
 */
#ifndef QUILL_COMMAND_H
#define QUILL_COMMAND_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#include "receive.h"

/* The longest path either host's port shows, in bytes with its zero. */
#define QUILL_PATH_BYTES	4096

/* What the command line asks for. */
struct quill_options {
	const char	*host;		/* the sender's address */
	const char	*port;		/* its port: a number or a service */
	const char	*dir;		/* the folder to save in */
	double		 wait;		/* seconds to try to reach the sender */
	double		 timeout;	/* seconds without a byte; 0: none */
	int		 force;		/* replace a file of the same name */
#ifndef _WIN32
	const char	*charset;	/* names not UTF-8 are in it (the
					   port checks it); NULL: taken
					   byte by byte, as sent */
#endif
};

/*
 * Reads the options in argv into o, the defaults first. Prints the
 * version or the help and exits 0 when asked; says what is wrong with the
 * usage and exits 2 on anything else it cannot take. Service names for
 * --port are looked up, so on Windows, Windows Sockets must be started.
 */
void	quill_options(int argc, char *argv[], struct quill_options *o);

/*
 * Returns s as escaped for a terminal (see quill_escape). The result lives
 * in one of two static buffers, so it stays valid until the second call
 * after; it holds all of any string shorter than QUILL_PATH_BYTES.
 */
const char *quill_show(const char *s);

/*
 * Returns name, as the sender gave it, as UTF-8 text to show: converted
 * from the character set the port reads names in when it is not UTF-8 and
 * converts whole, else name itself. Each port defines it; the result
 * lives in a static buffer until the next call.
 */
const char *quill_text(const char *name);

/*
 * Writes into out, an array of size bytes, the name that copy n of base
 * takes beside a file already called base: " (n)" goes before base's
 * extension, as desktop programs number copies (photo (1).jpg), or at its
 * end when it has none (notes (1), .profile (1)); copy 0 is base itself.
 * Returns 0, or -1 when the name does not fit.
 */
int	quill_numbered(char *out, size_t size, const char *base, int n);

/* Seconds on a clock that only goes forward. */
double	quill_now(void);

/*
 * Draws d's progress bar on standard error, a terminal, at most ten times
 * a second unless final: the last one drawn shows what arrived.
 */
void	quill_bar(const struct quill_decoder *d, int final);

/*
 * Ends the line of a bar that is drawn, first drawing all that arrived;
 * does nothing when none is.
 */
void	quill_bar_end(void);

/*
 * Writes the message of fmt, UTF-8 text, and a line end on f, standard
 * output or error: on a Windows console as UTF-16, which it shows whatever
 * its code page; anywhere else as it is, UTF-8 with the C library's line
 * end.
 */
void	quill_line(FILE *f, const char *fmt, ...);

/*
 * Says why the run stops on standard error: ends a bar that is drawn, then
 * writes "quillrecv: ", the message of fmt and ap, and a line end.
 */
void	quill_vwarnx(const char *fmt, va_list ap);

/*
 * Returns why a transfer that ended with res, not QUILL_SAVED, failed, as
 * quillrecv says it: r as quill_receive left it, timeout the --timeout and
 * failed the port's own reason for the port's failures. Lives in a static
 * buffer until the next call.
 */
const char *quill_why(const struct quill_receiver *r, enum quill_result res,
	    double timeout, const char *failed);

#endif
