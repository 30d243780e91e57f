/*
 * The receiving core's limits, one place for a device to set them (with
 * -D on every file's command line). Every file of the core and of a port
 * must see the same values: the names of the core's functions carry them
 * (QUILL_LIMITED), so files built with different values fail to link.
 */
#ifndef QUILL_LIMITS_H
#define QUILL_LIMITS_H

#include "fields.h"

#ifndef QUILL_MAX_NAME			/* a device may keep less: -D */
#define QUILL_MAX_NAME	4096		/* longest name kept, with its zero */
#endif
/* Room for a one-byte base name and its zero; no more than is ever sent. */
#if QUILL_MAX_NAME < 2 || QUILL_MAX_NAME > QUILL_MAX_PATH
#error "QUILL_MAX_NAME must be 2 to QUILL_MAX_PATH (4096)"
#endif

/* name, joined with the limits: the name a function links under. */
#define QUILL_LIMITED(name)	QUILL_JOIN(name, QUILL_MAX_NAME)
#define QUILL_JOIN(name, max)	QUILL_JOIN2(name, max)
#define QUILL_JOIN2(name, max)	name##_max##max

#endif
