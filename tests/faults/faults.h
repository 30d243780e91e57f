/*
 * Faults the tests ask for, through the environment:
 *
 *	QUILL_FAULTS=name=value[,name=value...]
 *
 * Returns the value given for name, or -1 when name is not asked for.
 */
#ifndef QUILL_FAULTS_H
#define QUILL_FAULTS_H

#include <stdlib.h>
#include <string.h>

static long
quill_fault(const char *name)
{
	const char *s = getenv("QUILL_FAULTS");
	size_t n = strlen(name);

	while (s != NULL && *s != '\0') {
		if (strncmp(s, name, n) == 0 && s[n] == '=')
			return strtol(s + n + 1, NULL, 10);
		if ((s = strchr(s, ',')) != NULL)
			s++;
	}
	return -1;
}

#endif
