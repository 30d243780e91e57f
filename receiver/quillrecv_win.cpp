/*
 * quillrecv for Windows: stand-in for the device. Connects to a running
 * sender, reads the transfer stream and saves the file under its base name
 * in a folder; a file of that name already there is kept, and the new one
 * saved under the first free NAME (1).EXT, NAME (2).EXT, ... unless --force
 * replaces it.
 *
 *	quillrecv [--host HOST] [--port PORT] [--output DIR] [--wait SECONDS]
 *	    [--timeout SECONDS] [--force]
 *
 * Exit status 0 only when the file arrived whole; only then does it get a
 * name in the folder, so a broken or interrupted stream leaves nothing.
 * Whatever the folder would refuse (the name, its length, the numbered
 * name, room for it) is refused once the header is whole, before any data:
 * the final name is claimed then, and the data staged beside it in
 * DIR\.quillrecv.PID.N.partial until the commit puts it in the claim's
 * place. Both are delete-pending, so the system removes them however the
 * run ends; a partial file that a power loss leaves says what it is, and
 * the next run in that folder removes it.
 * The receiving rules are the core's (core/), the options and the words that
 * say how a transfer ended command.cpp's; this is their Windows port (the
 * quill_port_* functions) and the run's steps around them, kept parallel
 * to quillrecv.cpp, the POSIX one. Arguments and paths are UTF-8 inside and
 * UTF-16 at the system's calls. Whatever the sender writes is hostile
 * until checked: nothing of it reaches the console raw.
 */
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <io.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "command.h"
#include "names.h"
#include "receive.h"

/* winerror.h's, which not every mingw-w64 has: "Is a directory". */
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED	336L
#endif

/* The longest name a Windows file system takes, in UTF-16 units. */
#define NAME_UNITS	255

/* The longest path Windows takes in the \\?\ form, in UTF-16 units. */
#define WIDE_UNITS	32768

/*
 * The file being received, made before connecting and marked
 * delete-pending at once: the system removes it when the process ends,
 * however it ends, unless a commit has given it its name. die() closes it,
 * which removes it then. The mark is cleared only inside committing, which
 * the console's end events wait for (see ended).
 */
static HANDLE staged = INVALID_HANDLE_VALUE;

/*
 * The final name's claim, from the header on: an empty folder under that
 * name, open with no sharing and marked delete-pending like the staged
 * file. An empty file would do as a claim while the run lives, but one
 * that a power loss leaves would pass for a received file; a folder never
 * does, and the next run numbers past it. Closing it removes it: no
 * other process can hold it open meanwhile.
 */
static HANDLE claim = INVALID_HANDLE_VALUE;
static CRITICAL_SECTION committing;
static int bar;			/* standard error is a console */

/*
 * The port's state, which quill_receive hands to each quill_port_* call;
 * this file's own (quillrecv.cpp has another).
 */
namespace {
struct port {
	SOCKET		 fd;		/* the connection to the sender */
	const char	*dir;
	double		 timeout;	/* seconds without a byte; 0: none */
	int		 force;		/* replace a file of the same name */
	wchar_t		 sysdir[WIDE_UNITS];	/* dir as the system's calls take it */
	wchar_t		 target[WIDE_UNITS];	/* the final name, the same way */
	char		 path[QUILL_PATH_BYTES];	/* named once the header is whole */
	char		 failed[8 * QUILL_PATH_BYTES];	/* why the port failed */
};
}  // namespace

/*
 * Returns path, one of the port's own (a folder, or a folder, '\' and a
 * base name), as quill_show(path) does but with each backslash shown as
 * one: in a path it is only a separator, since a base name never holds
 * one. Shares quill_show's buffers.
 */
static const char *
shown_path(const char *path)
{
	char *s = (char *)quill_show(path), *to = s;
	const char *from;

	/*
	 * The escape writes a backslash as two and any other byte it escapes
	 * as \xHH: a backslash that follows a backslash is the second of a
	 * pair.
	 */
	for (from = s; *from != '\0'; from++) {
		*to++ = *from;
		if (from[0] == '\\' && from[1] == '\\')
			from++;
	}
	*to = '\0';
	return s;
}

/*
 * Returns the system's reason for error e (a Windows or Windows Sockets
 * error): in the words Linux uses for those its tests meet, else the
 * system's own English text. Lives in a static buffer until the next call.
 */
static const char *
reason(DWORD e)
{
	static const struct {
		DWORD		 e;
		const char	*words;
	} linux_words[] = {
		{ ERROR_FILE_NOT_FOUND,		"No such file or directory" },
		{ ERROR_PATH_NOT_FOUND,		"No such file or directory" },
		{ ERROR_ACCESS_DENIED,		"Permission denied" },
		{ ERROR_DISK_FULL,		"No space left on device" },
		{ ERROR_HANDLE_DISK_FULL,	"No space left on device" },
		{ ERROR_DIRECTORY,		"Not a directory" },
		{ ERROR_FILENAME_EXCED_RANGE,	"File name too long" },
		{ ERROR_DIRECTORY_NOT_SUPPORTED, "Is a directory" },
		{ WSAECONNREFUSED,		"Connection refused" },
		{ WSAECONNRESET,		"Connection reset by peer" },
		{ WSAENETUNREACH,		"Network is unreachable" },
		{ WSAEHOSTUNREACH,		"No route to host" },
		{ WSAETIMEDOUT,			"Connection timed out" },
	};
	static char text[512];
	DWORD n, lang;
	unsigned i;

	for (i = 0; i < sizeof(linux_words) / sizeof(linux_words[0]); i++)
		if (linux_words[i].e == e)
			return linux_words[i].words;
	/* English where the system has it, else its own language. */
	lang = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
	if ((n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM |
	    FORMAT_MESSAGE_IGNORE_INSERTS, NULL, e, lang, text, sizeof(text),
	    NULL)) == 0)
		n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM |
		    FORMAT_MESSAGE_IGNORE_INSERTS, NULL, e, 0, text,
		    sizeof(text), NULL);
	if (n == 0) {
		snprintf(text, sizeof(text), "error %lu", (unsigned long)e);
		return text;
	}
	while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' ||
	    text[n - 1] == '.' || text[n - 1] == ' '))
		text[--n] = '\0';
	return text;
}

/* Prints "quillrecv: " and the message on standard error and exits 1. */
static void __attribute__((noreturn, format(gnu_printf, 1, 2)))
die(const char *fmt, ...)
{
	va_list ap;

	/* Marked delete-pending, each goes with its handle. */
	if (staged != INVALID_HANDLE_VALUE)
		CloseHandle(staged);
	if (claim != INVALID_HANDLE_VALUE)
		CloseHandle(claim);
	va_start(ap, fmt);
	quill_vwarnx(fmt, ap);
	va_end(ap);
	exit(1);
}

/* Records why the port failed, for main to say; returns -1. */
static int __attribute__((format(gnu_printf, 2, 3)))
failure(struct port *p, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(p->failed, sizeof(p->failed), fmt, ap);
	va_end(ap);
	return -1;
}

/*
 * Ctrl-C, Ctrl-Break, a closed console window: the staged file goes with
 * the process by itself, but not while a commit has its mark cleared.
 * Waits for a commit (or the file's making) in progress and keeps any other
 * from starting, then lets the default handling end the process.
 */
static BOOL WINAPI
ended(DWORD event)
{
	if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ||
	    event == CTRL_CLOSE_EVENT)
		EnterCriticalSection(&committing);
	return FALSE;
}

/*
 * Marks file h to be removed when its last handle closes (on 1), or keeps
 * it (on 0). Returns 0, or -1 with the last error set.
 */
static int
mark(HANDLE h, BOOL on)
{
	FILE_DISPOSITION_INFO d;

	d.DeleteFile = on;
	return SetFileInformationByHandle(h, FileDispositionInfo, &d,
	    sizeof(d)) ? 0 : -1;
}

/*
 * Writes s, UTF-8, into w, an array of QUILL_PATH_BYTES UTF-16 units (as
 * UTF-16 a string never takes more units than it had bytes). Returns 0, or
 * -1 when s is not UTF-8 or does not fit.
 */
static int
widen(const char *s, wchar_t *w)
{
	return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s, -1, w,
	    QUILL_PATH_BYTES) > 0 ? 0 : -1;
}

/*
 * One attempt to connect fd to a: bounded by left seconds when left > 0,
 * else by the system alone. Returns 0, a Windows Sockets error, or -1 when
 * left ran out with no answer.
 */
static int
attempt(SOCKET fd, const struct addrinfo *a, double left)
{
	struct timeval bound;
	fd_set wfds, efds;
	u_long on = 1, off = 0;
	int e, elen = sizeof(e), ready;

	if (left <= 0)
		return connect(fd, a->ai_addr, (int)a->ai_addrlen) == 0 ? 0 :
		    WSAGetLastError();
	ioctlsocket(fd, FIONBIO, &on);
	if (connect(fd, a->ai_addr, (int)a->ai_addrlen) != 0 &&
	    (e = WSAGetLastError()) != WSAEWOULDBLOCK)
		return e;
	FD_ZERO(&wfds);
	FD_ZERO(&efds);
	FD_SET(fd, &wfds);
	FD_SET(fd, &efds);
	bound.tv_sec = (long)left;
	bound.tv_usec = (long)((left - (double)bound.tv_sec) * 1e6);
	if ((ready = select(0, NULL, &wfds, &efds, &bound)) == 0)
		return -1;
	if (ready == SOCKET_ERROR)
		return WSAGetLastError();
	/*
	 * A failed attempt ends in efds, with its reason in SO_ERROR, which
	 * reading clears; one in wfds connected.
	 */
	if (FD_ISSET(fd, &efds)) {
		if (getsockopt(fd, SOL_SOCKET, SO_ERROR, (char *)&e, &elen) != 0)
			return WSAGetLastError();
		return e != 0 ? e : WSAECONNREFUSED;
	}
	ioctlsocket(fd, FIONBIO, &off);
	return 0;
}

/*
 * Connects to host:port, retrying every 100 ms while nothing listens there,
 * for up to wait seconds in all: an attempt that gets no answer ends with
 * them. With wait 0 it tries once, and only the system bounds that try.
 * Returns the socket or ends the program.
 */
static SOCKET
connect_sender(const char *host, const char *port, double wait)
{
	struct addrinfo hints, *res;
	double end = quill_now() + wait, left = 0;
	SOCKET fd;
	int e;

	memset(&hints, 0, sizeof(hints));
	hints.ai_family = AF_INET;
	hints.ai_socktype = SOCK_STREAM;
	if ((e = getaddrinfo(host, port, &hints, &res)) != 0)
		die("%s port %s: %s", host, port, reason((DWORD)e));
	for (;;) {
		if ((fd = socket(res->ai_family, res->ai_socktype,
		    res->ai_protocol)) == INVALID_SOCKET)
			die("socket: %s", reason((DWORD)WSAGetLastError()));
		if (wait > 0 && (left = end - quill_now()) < 0.001)
			left = 0.001;
		if ((e = attempt(fd, res, left)) == 0)
			break;
		closesocket(fd);
		if (e == -1)
			die("connect to %s port %s: no answer in %g s", host,
			    port, wait);
		if (e != WSAECONNREFUSED || quill_now() >= end)
			die("connect to %s port %s: %s", host, port,
			    reason((DWORD)e));
		Sleep(100);
	}
	freeaddrinfo(res);
	return fd;
}

/* True when w names a folder. */
static int
is_dir(const wchar_t *w)
{
	DWORD a = GetFileAttributesW(w);

	return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

/*
 * Writes into to, an array of WIDE_UNITS, the path a followed by b, and c
 * when not null. Returns 0, or -1 when it does not fit.
 */
static int
join(wchar_t *to, const wchar_t *a, const wchar_t *b, const wchar_t *c)
{
	size_t na = wcslen(a), nb = wcslen(b), nc = c != NULL ? wcslen(c) : 0;

	if (na + nb + nc >= WIDE_UNITS)
		return -1;
	wmemmove(to, a, na);
	wmemcpy(to + na, b, nb);
	if (c != NULL)
		wmemcpy(to + na + nb, c, nc);
	to[na + nb + nc] = L'\0';
	return 0;
}

/*
 * Writes into w, an array of WIDE_UNITS, folder dir in the form that every
 * system call takes past MAX_PATH (260 units): \\?\C:\... or
 * \\?\UNC\server\share\..., made whole against the current folder (which
 * also turns / into \ and drops . and ..), with no separator at its end.
 * A dir in that form already is taken as it is. Returns 0, or the error.
 */
static DWORD
long_form(const char *dir, wchar_t *w)
{
	static wchar_t given[WIDE_UNITS], full[WIDE_UNITS];
	size_t n;
	int fits;

	if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, dir, -1, given,
	    WIDE_UNITS) <= 0)
		return ERROR_FILENAME_EXCED_RANGE;
	if (wcsncmp(given, L"\\\\?\\", 4) == 0) {
		wcscpy(w, given);
	} else {
		n = GetFullPathNameW(given, WIDE_UNITS, full, NULL);
		if (n == 0)
			return GetLastError();
		if (n >= WIDE_UNITS)
			return ERROR_FILENAME_EXCED_RANGE;
		/*
		 * \\.\X is \\?\X once made whole, and \\server\share\x is
		 * \\?\UNC\server\share\x.
		 */
		if (wcsncmp(full, L"\\\\.\\", 4) == 0)
			fits = join(w, L"\\\\?\\", full + 4, NULL);
		else if (wcsncmp(full, L"\\\\", 2) == 0)
			fits = join(w, L"\\\\?\\UNC\\", full + 2, NULL);
		else
			fits = join(w, L"\\\\?\\", full, NULL);
		if (fits < 0)
			return ERROR_FILENAME_EXCED_RANGE;
	}
	/* A name is joined on with a separator; \\?\ takes no two in a row. */
	for (n = wcslen(w); n > 4 && (w[n - 1] == L'\\' || w[n - 1] == L'/');)
		w[--n] = L'\0';
	return 0;
}

/*
 * Makes folder w, in long_form's form, and those above it that are
 * missing, as mkdir -p does; what comes before the first folder is taken
 * as there: \\?\C:\, \\?\UNC\server\share\ (a share cannot be made), or
 * any other \\?\ root up to its first separator. Returns 0, or the error:
 * ERROR_DIRECTORY when something on the way is there but no folder.
 */
static DWORD
make_dirs(const wchar_t *w)
{
	static wchar_t path[WIDE_UNITS];
	size_t i, len, seps;
	DWORD e;

	wcscpy(path, w);
	len = wcslen(path);
	seps = _wcsnicmp(path, L"\\\\?\\UNC\\", 8) == 0 ? 3 : 1;
	for (i = 4; i < len && seps > 0; i++)
		seps -= path[i] == L'\\';
	if (seps > 0)
		return 0;	/* a root alone: \\?\C:, a share */
	for (; i <= len; i++) {
		if ((path[i] != L'\\' && path[i] != L'\0') ||
		    path[i - 1] == L'\\')
			continue;
		path[i] = L'\0';
		/* A folder that is there is taken, whatever else stops a mkdir. */
		if (!CreateDirectoryW(path, NULL) && !is_dir(path)) {
			e = GetLastError();
			return e == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : e;
		}
		path[i] = w[i];
	}
	return 0;
}

/*
 * True when w is a partial file's name, .quillrecv.PID.N.partial, PID and
 * N being decimal numbers.
 */
static int
partial_name(const wchar_t *w)
{
	int part;

	if (wcsncmp(w, L".quillrecv.", 11) != 0)
		return 0;
	for (w += 11, part = 0; part < 2; part++, w++) {
		if (*w < L'0' || *w > L'9')
			return 0;
		while (*w >= L'0' && *w <= L'9')
			w++;
		if (*w != L'.')
			return 0;
	}
	return wcscmp(w, L"partial") == 0;
}

/*
 * Removes from p->sysdir the partial files of runs that are gone: files
 * named as partial_name says that no process holds open. A live run holds
 * its own open, delete-pending, so an open with no sharing fails there;
 * one left by a power loss opens, and goes when it closes. Anything that
 * will not open (a folder of that name, a read-only file) stays.
 */
static void
remove_stale(const struct port *p)
{
	static wchar_t path[WIDE_UNITS];
	WIN32_FIND_DATAW f;
	HANDLE find, h;

	if (join(path, p->sysdir, L"\\.quillrecv.*.partial", NULL) < 0 ||
	    (find = FindFirstFileW(path, &f)) == INVALID_HANDLE_VALUE)
		return;
	do {
		if ((f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
		    !partial_name(f.cFileName) ||
		    join(path, p->sysdir, L"\\", f.cFileName) < 0)
			continue;
		h = CreateFileW(path, DELETE, 0, NULL, OPEN_EXISTING,
		    FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
		if (h != INVALID_HANDLE_VALUE)
			CloseHandle(h);
	} while (FindNextFileW(find, &f));
	FindClose(find);
}

/*
 * Makes the file that receives the data, DIR\.quillrecv.PID.N.partial
 * with the first N not taken, marked delete-pending. Returns its handle or
 * ends the program.
 */
static HANDLE
make_file(struct port *p)
{
	static wchar_t path[WIDE_UNITS];
	wchar_t name[64];
	HANDLE out;
	DWORD e;
	int i;

	for (i = 0;; i++) {
		swprintf(name, sizeof(name) / sizeof(name[0]),
		    L"\\.quillrecv.%lu.%d.partial",
		    (unsigned long)GetCurrentProcessId(), i);
		if (i == INT_MAX || join(path, p->sysdir, name, NULL) < 0)
			die("cannot save files in %s: %s", shown_path(p->dir),
			    reason(i == INT_MAX ? ERROR_FILE_EXISTS :
			    ERROR_FILENAME_EXCED_RANGE));
		/* Made and marked with the console's ends held back. */
		EnterCriticalSection(&committing);
		out = CreateFileW(path, GENERIC_WRITE | DELETE,
		    FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_NEW,
		    FILE_ATTRIBUTE_NORMAL, NULL);
		e = GetLastError();
		if (out != INVALID_HANDLE_VALUE && mark(out, TRUE) < 0) {
			e = GetLastError();
			CloseHandle(out);
			DeleteFileW(path);
			out = INVALID_HANDLE_VALUE;
		}
		LeaveCriticalSection(&committing);
		if (out != INVALID_HANDLE_VALUE)
			return out;
		if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS)
			die("cannot save files in %s: %s", shown_path(p->dir),
			    reason(e));
	}
}

/*
 * Claims p->target (see claim): makes the folder and marks it, with the
 * console's ends held back. Returns 0, or the error, with nothing left.
 */
static DWORD
claim_name(const struct port *p)
{
	DWORD e = 0;

	EnterCriticalSection(&committing);
	if (!CreateDirectoryW(p->target, NULL)) {
		e = GetLastError();
	} else if ((claim = CreateFileW(p->target, DELETE, 0, NULL,
	    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS |
	    FILE_FLAG_OPEN_REPARSE_POINT, NULL)) == INVALID_HANDLE_VALUE ||
	    mark(claim, TRUE) < 0) {
		e = GetLastError();
		if (claim != INVALID_HANDLE_VALUE)
			CloseHandle(claim);
		claim = INVALID_HANDLE_VALUE;
		RemoveDirectoryW(p->target);
	}
	LeaveCriticalSection(&committing);
	return e;
}

/*
 * Gives the whole file its name, p->target, through its handle: what is
 * renamed is the file written, whatever became of its staging name. The
 * claim goes just before; with --force a file there is replaced, never a
 * folder. Call inside committing: the file's mark is cleared first, since
 * a delete-pending file keeps the mark under its new name, and set again
 * when the rename fails. Returns 0, or -1 with the last error set.
 */
static int
put_in_place(struct port *p)
{
	static union {
		FILE_RENAME_INFO info;
		wchar_t		 room[sizeof(FILE_RENAME_INFO) + WIDE_UNITS];
	} to;
	size_t len = wcslen(p->target);
	DWORD e;

	memset(&to.info, 0, sizeof(to.info));
	to.info.ReplaceIfExists = p->force ? TRUE : FALSE;
	to.info.FileNameLength = (DWORD)(len * sizeof(wchar_t));
	wmemcpy(to.info.FileName, p->target, len + 1);
	if (mark(staged, FALSE) < 0)
		return -1;
	if (claim != INVALID_HANDLE_VALUE)
		CloseHandle(claim);
	claim = INVALID_HANDLE_VALUE;
	if (SetFileInformationByHandle(staged, FileRenameInfo, &to.info,
	    (DWORD)(sizeof(to.info) + len * sizeof(wchar_t))))
		return 0;
	e = GetLastError();
	if (p->force && is_dir(p->target))
		e = ERROR_DIRECTORY_NOT_SUPPORTED;
	mark(staged, TRUE);
	SetLastError(e);
	return -1;
}

/*
 * True when Windows can store w, a base name the core has checked: none of
 * < > : " | ? *, no trailing dot or space, no name Windows keeps for a
 * device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT with a digit,
 * superscripts included, in any case, alone or before a dot).
 */
static int
windows_allows(const wchar_t *w)
{
	static const wchar_t *const devices[] = { L"CON", L"PRN", L"AUX",
	    L"NUL", L"CONIN$", L"CONOUT$" };
	size_t n, stem;
	unsigned i;

	n = wcslen(w);
	if (wcspbrk(w, L"<>:\"|?*") != NULL || w[n - 1] == L'.' ||
	    w[n - 1] == L' ')
		return 0;
	/* Windows drops the spaces that end a device name: "CON .txt". */
	for (stem = wcscspn(w, L"."); stem > 0 && w[stem - 1] == L' '; stem--)
		continue;
	for (i = 0; i < sizeof(devices) / sizeof(devices[0]); i++)
		if (stem == wcslen(devices[i]) &&
		    _wcsnicmp(w, devices[i], stem) == 0)
			return 0;
	/* The digits: 0 to 9, and the superscripts 1, 2 and 3. */
	return !(stem == 4 && (_wcsnicmp(w, L"COM", 3) == 0 ||
	    _wcsnicmp(w, L"LPT", 3) == 0) &&
	    wcschr(L"0123456789\u00b9\u00b2\u00b3", w[3]) != NULL);
}

/*
 * The port's read: waits for bytes up to the time-out, drawing the bar
 * first once the header is whole. Returns a count, QUILL_CLOSED,
 * QUILL_TIMEDOUT, or QUILL_READFAIL with the reason recorded.
 */
long
quill_port_read(struct quill_receiver *r, unsigned char *buf, size_t len)
{
	struct port *p = (struct port *)r->port;
	struct timeval bound;
	fd_set rfds;
	int ready, n;

	if (bar && r->dec.stage == QUILL_DATA)
		quill_bar(&r->dec, 0);
	FD_ZERO(&rfds);
	FD_SET(p->fd, &rfds);
	bound.tv_sec = (long)p->timeout;
	bound.tv_usec = (long)((p->timeout - (double)bound.tv_sec) * 1e6);
	ready = select(0, &rfds, NULL, NULL, p->timeout > 0 ? &bound : NULL);
	if (ready == SOCKET_ERROR) {
		failure(p, "select: %s", reason((DWORD)WSAGetLastError()));
		return QUILL_READFAIL;
	}
	if (ready == 0)
		return QUILL_TIMEDOUT;
	if ((n = recv(p->fd, (char *)buf, len > INT_MAX ? INT_MAX : (int)len,
	    0)) != SOCKET_ERROR)
		return n;
	failure(p, "read: %s", reason((DWORD)WSAGetLastError()));
	return QUILL_READFAIL;
}

/*
 * The port's open: the file was made before connecting, so this names
 * where it goes and claims that name, the first of base, base (1).ext,
 * base (2).ext, ... that is free; with --force, base whatever holds it,
 * unless a folder or a read-only file does. Everything the folder would
 * refuse is refused here, before any data. A name that is not UTF-8 is
 * read in the system's code page, the one quillsend_win sends names in and
 * the core split it in; a base name that is no text there is refused.
 * Returns 0, or -1 with the reason recorded.
 */
int
quill_port_open(struct quill_receiver *r, const char *base)
{
	struct port *p = (struct port *)r->port;
	wchar_t w[QUILL_PATH_BYTES], sep[2] = L"\\";
	char name[QUILL_PATH_BYTES], numbered[QUILL_PATH_BYTES];
	DWORD e, a;
	int n;

	/* The whole name says which: a base alone may pass for UTF-8. */
	if (r->charset == 0 && widen(r->dec.name, w) == 0)
		widen(base, w);
	else if (MultiByteToWideChar((UINT)r->codepage, MB_ERR_INVALID_CHARS,
	    base, -1, w, QUILL_PATH_BYTES) <= 0)
		return failure(p, "%s\\%s: not a name in code page %d",
		    shown_path(p->dir), quill_show(base), r->codepage);
	if (WideCharToMultiByte(CP_UTF8, 0, w, -1, name, sizeof(name), NULL,
	    NULL) <= 0)
		return failure(p, "%s\\%s: path too long", shown_path(p->dir),
		    quill_show(base));
	for (n = 0;; n++) {
		if (quill_numbered(numbered, sizeof(numbered), name, n) < 0 ||
		    snprintf(p->path, sizeof(p->path), "%s\\%s", p->dir,
		    numbered) >= (int)sizeof(p->path))
			return failure(p, "%s\\%s: path too long",
			    shown_path(p->dir), quill_show(numbered));
		/* Before any byte is written: "dir\CON" must never reach a device. */
		if (n == 0 && !windows_allows(w))
			return failure(p, "%s: not a name Windows allows",
			    shown_path(p->path));
		widen(numbered, w);
		if (wcslen(w) > NAME_UNITS || join(p->target, p->sysdir, sep,
		    w) < 0)
			return failure(p, "%s: %s", shown_path(p->path),
			    reason(ERROR_FILENAME_EXCED_RANGE));
		if ((e = claim_name(p)) == 0)
			return 0;
		if (e != ERROR_ALREADY_EXISTS && e != ERROR_FILE_EXISTS)
			break;
		if (p->force) {
			/* Replaced at the commit, when it can be. */
			a = GetFileAttributesW(p->target);
			if (a == INVALID_FILE_ATTRIBUTES)
				e = GetLastError();
			else if (a & FILE_ATTRIBUTE_DIRECTORY)
				e = ERROR_DIRECTORY_NOT_SUPPORTED;
			else if (a & FILE_ATTRIBUTE_READONLY)
				e = ERROR_ACCESS_DENIED;
			else
				return 0;
			break;
		}
		if (n == INT_MAX)
			break;
	}
	return failure(p, "%s: %s", shown_path(p->path), reason(e));
}

/* The port's write: all len bytes, a short write followed by the rest. */
int
quill_port_write(struct quill_receiver *r, const unsigned char *data,
    size_t len)
{
	struct port *p = (struct port *)r->port;
	DWORD w;

	for (; len > 0; len -= w, data += w)
		if (!WriteFile(staged, data, len > INT_MAX ? INT_MAX :
		    (DWORD)len, &w, NULL))
			return failure(p, "%s: %s", shown_path(p->path),
			    reason(GetLastError()));
	return 0;
}

/*
 * The port's commit: the whole file reaches the disk, then takes its name,
 * then its name reaches the disk as far as Windows lets a program ask.
 * FlushFileBuffers writes a file's data and metadata from the cache and
 * has the storage flush its own; the first one makes sure a crash never
 * leaves the name on a file short of its data. A rename on one volume
 * (MoveFileEx's MOVEFILE_WRITE_THROUGH only waits for a move that copies)
 * changes the folder, which no documented call short of flushing the whole
 * volume, an administrator's, flushes; the second FlushFileBuffers, on
 * the file under its new name, is the most that is documented, and the
 * rest is the file system's own logging. Returns 0, or -1 with the reason
 * recorded; once the file has its name it stays, even when the second
 * flush fails, and the reason says where it is.
 */
int
quill_port_commit(struct quill_receiver *r)
{
	struct port *p = (struct port *)r->port;
	DWORD e;
	int placed;

	if (bar)
		quill_bar_end();
	if (!FlushFileBuffers(staged))
		return failure(p, "%s: %s", shown_path(p->path),
		    reason(GetLastError()));
	EnterCriticalSection(&committing);
	placed = put_in_place(p);
	e = GetLastError();
	LeaveCriticalSection(&committing);
	if (placed < 0)
		return failure(p, "%s: %s", shown_path(p->path), reason(e));
	placed = FlushFileBuffers(staged);
	e = GetLastError();
	CloseHandle(staged);
	staged = INVALID_HANDLE_VALUE;
	if (!placed)
		return failure(p, "%s: %s: %s may not survive a crash",
		    shown_path(p->dir), reason(e), shown_path(p->path));
	return 0;
}

/*
 * The port's discard: the staged file, still marked, goes with its handle,
 * and so does the claim.
 */
void
quill_port_discard(struct quill_receiver *r)
{
	(void)r;
	if (staged != INVALID_HANDLE_VALUE)
		CloseHandle(staged);
	staged = INVALID_HANDLE_VALUE;
	if (claim != INVALID_HANDLE_VALUE)
		CloseHandle(claim);
	claim = INVALID_HANDLE_VALUE;
}

/*
 * Returns the arguments as UTF-8, for getopt_long; exits 1 when there is
 * no memory for them.
 */
static char **
utf8_args(int argc, wchar_t *wargv[])
{
	char **argv = (char **)calloc((size_t)argc + 1, sizeof(*argv));
	int i, n;

	for (i = 0; argv != NULL && i < argc; i++) {
		n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, NULL, 0, NULL,
		    NULL);
		if (n <= 0 || (argv[i] = (char *)malloc((size_t)n)) == NULL)
			die("arguments: %s", reason(ERROR_NOT_ENOUGH_MEMORY));
		WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, argv[i], n, NULL,
		    NULL);
	}
	if (argv == NULL)
		die("arguments: %s", reason(ERROR_NOT_ENOUGH_MEMORY));
	return argv;
}

/*
 * Returns name as UTF-8 text: itself when it is UTF-8, else converted from
 * the system's code page when it is text there, else itself. The result
 * lives in a static buffer until the next call.
 */
const char *
quill_text(const char *name)
{
	static wchar_t w[QUILL_PATH_BYTES];
	/* A code page's character, one or two bytes, is one unit of UTF-16,
	   three bytes of UTF-8 at most. */
	static char text[3 * QUILL_PATH_BYTES];

	if (widen(name, w) == 0 || MultiByteToWideChar(CP_ACP,
	    MB_ERR_INVALID_CHARS, name, -1, w, QUILL_PATH_BYTES) <= 0 ||
	    WideCharToMultiByte(CP_UTF8, 0, w, -1, text, sizeof(text), NULL,
	    NULL) <= 0)
		return name;
	return text;
}

int
wmain(int argc, wchar_t *wargv[])
{
	static unsigned char buf[64 * 1024];
	static struct quill_receiver r;
	static struct port port;
	static char **argv;	/* as UTF-8, for the whole run */
	struct quill_options o;
	enum quill_result res;
	WSADATA wsd;
	DWORD e;

	argv = utf8_args(argc, wargv);
	/* Windows Sockets first: --port looks up service names. */
	if ((e = (DWORD)WSAStartup(MAKEWORD(2, 2), &wsd)) != 0)
		die("WSAStartup: %s", reason(e));

	/* Options */
	quill_options(argc, argv, &o);
	port.dir = o.dir;
	port.timeout = o.timeout;
	port.force = o.force;

	/*
	 * The partial file goes with the run, whatever ends it: it is marked
	 * delete-pending. The console's ends only wait for a commit.
	 */
	InitializeCriticalSection(&committing);
	SetConsoleCtrlHandler(ended, TRUE);
	bar = _isatty(2);

	/*
	 * The file first: a folder that cannot take it spares the sender. What
	 * a power loss left of earlier runs goes before.
	 */
	if ((e = long_form(port.dir, port.sysdir)) != 0 ||
	    (e = make_dirs(port.sysdir)) != 0)
		die("cannot save files in %s: %s", shown_path(port.dir),
		    reason(e));
	remove_stale(&port);
	staged = make_file(&port);
	port.fd = connect_sender(o.host, o.port, o.wait);

	/*
	 * Receive: the core keeps the file only when the stream is whole, and
	 * splits a name that is not UTF-8 on the code page's characters.
	 */
	r.codepage = (int)GetACP();
	if ((res = quill_receive(&r, &port, buf, sizeof(buf))) != QUILL_SAVED)
		die("%s", quill_why(&r, res, port.timeout, port.failed));
	/* Saved: say where */
	closesocket(port.fd);
	quill_line(stdout, "received %s: %d bytes, saved as %s",
	    quill_show(quill_text(r.dec.name)),
	    r.dec.size, shown_path(port.path));
	return 0;
}
