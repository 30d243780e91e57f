/*
 * Faults the tests ask for, through the environment:
 *
 *	QUILL_FAULTS=name=value[,name=value...]
 *
 * The includer defines QUILL_FAULT_NAMES, the names it knows, as
 * ",name,name,...,". A list holding anything but such names, each with a
 * number, ends the program at its first faultable call with a message and
 * status 125: no fault asked for is dropped silently.
 */
#ifndef QUILL_FAULTS_H
#define QUILL_FAULTS_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Returns the value given for name, or -1 when name is not asked for. */
static long
quill_fault(const char *name)
{
	static int checked;
	const char *s = getenv("QUILL_FAULTS"), *at = s, *eq;
	char item[32], *end = NULL;
	size_t n = strlen(name);

	if (checked++)
		at = NULL;	/* checked, or being checked: the message writes */
	for (; at != NULL && *at != '\0'; at = end + (*end == ',')) {
		if ((eq = strchr(at, '=')) != NULL)
			strtol(eq + 1, &end, 10);
		snprintf(item, sizeof(item), ",%.*s,", eq ? (int)(eq - at) : 0, at);
		if (eq == NULL || end == eq + 1 || (*end != ',' && *end != '\0') ||
		    strstr(QUILL_FAULT_NAMES, item) == NULL) {
			fprintf(stderr, "faults: cannot apply %s\n", at);
			_Exit(125);
		}
	}
	while (s != NULL && *s != '\0') {
		if (strncmp(s, name, n) == 0 && s[n] == '=')
			return strtol(s + n + 1, NULL, 10);
		if ((s = strchr(s, ',')) != NULL)
			s++;
	}
	return -1;
}

#endif
