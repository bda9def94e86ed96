// Log lines of the upgrade service: the level word (padded to seven
// characters) is part of each format, followed by the operation's name and
// the line of the message site, all to syslog (user, notice).
#pragma once

#include <syslog.h>

#define UPGRADE_LOG(format, ...) UPGRADE_LOG_FOR(__func__, format __VA_OPT__(, ) __VA_ARGS__)
// For helpers that log on behalf of the operation that called them.
#define UPGRADE_LOG_FOR(operation, format, ...) \
	syslog(LOG_USER | LOG_NOTICE, format, operation, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
