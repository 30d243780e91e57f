/*
 * Preloaded into a sender to try posix_fadvise(POSIX_FADV_SEQUENTIAL) on
 * every file it opens with fopen, without changing the sender.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>

static FILE *
advised(FILE *f)
{
	if (f != NULL)
		posix_fadvise(fileno(f), 0, 0, POSIX_FADV_SEQUENTIAL);
	return f;
}

FILE *
fopen(const char *path, const char *mode)
{
	static FILE *(*real)(const char *, const char *);

	if (real == NULL)
		real = (FILE *(*)(const char *, const char *))dlsym(RTLD_NEXT, "fopen");
	return advised(real(path, mode));
}

FILE *
fopen64(const char *path, const char *mode)
{
	static FILE *(*real)(const char *, const char *);

	if (real == NULL)
		real = (FILE *(*)(const char *, const char *))dlsym(RTLD_NEXT, "fopen64");
	return advised(real(path, mode));
}
