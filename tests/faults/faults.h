/*
 * Faults the tests ask for, through the environment:
 *
 *	QUILL_FAULTS=name=value[,name=value...]
 *
 * The includer defines QUILL_FAULT_NAMES, the names it knows, as
 * ",name,name,...,". A list that holds anything else than such names with
 * a whole number each ends the program at its first faultable call, with a
 * message and status 125: no fault asked for is dropped silently.
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
	const char *s = getenv("QUILL_FAULTS"), *item, *eq;
	size_t n = strlen(name);
	char known[32];
	char *end = NULL;

	if (!checked && s != NULL) {
		checked = -1;	/* the message below may call back here */
		for (item = s; *item != '\0'; item = end + (*end == ',')) {
			eq = strchr(item, '=');
			if (eq == NULL || eq == item || eq - item > 28)
				break;
			snprintf(known, sizeof(known), ",%.*s,", (int)(eq - item), item);
			strtol(eq + 1, &end, 10);
			if (strstr(QUILL_FAULT_NAMES, known) == NULL ||
			    end == eq + 1 || (*end != ',' && *end != '\0'))
				break;
		}
		if (*item != '\0') {
			fprintf(stderr, "faults: cannot apply \"%s\" in "
			    "QUILL_FAULTS=%s\n", item, s);
			fflush(stderr);
			_Exit(125);
		}
		checked = 1;
	}
	while (checked > 0 && s != NULL && *s != '\0') {
		if (strncmp(s, name, n) == 0 && s[n] == '=')
			return strtol(s + n + 1, NULL, 10);
		if ((s = strchr(s, ',')) != NULL)
			s++;
	}
	return -1;
}

#endif
