/*
 * Preloaded into a sender to try posix_fadvise(POSIX_FADV_SEQUENTIAL) on
 * every file it opens with fopen, without changing the sender.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>

/* Both names the sender may call, by its offset width. */
#define ADVISED(name) \
FILE * \
name(const char *path, const char *mode) \
{ \
	static FILE *(*real)(const char *, const char *); \
	FILE *f; \
	if (real == NULL) \
		real = (FILE *(*)(const char *, const char *))dlsym(RTLD_NEXT, #name); \
	if ((f = real(path, mode)) != NULL) \
		posix_fadvise(fileno(f), 0, 0, POSIX_FADV_SEQUENTIAL); \
	return f; \
}
ADVISED(fopen)
ADVISED(fopen64)
