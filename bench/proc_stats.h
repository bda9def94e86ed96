// Footprint readings of a process from its /proc texts, shared by the benchmarks.
#pragma once

#include <stdlib.h>

#include <sstream>
#include <string>

namespace bench {

// A "Name:   N kB" field of /proc/<pid>/status, in KiB; -1 when absent.
inline long field_kib(const std::string &status, const std::string &name)
{
	size_t at = status.find(name + ":");
	return at == std::string::npos ? -1 : atol(status.c_str() + at + name.size() + 1);
}

// utime + stime in clock ticks from /proc/<pid>/stat.
inline long cpu_ticks(const std::string &stat)
{
	size_t close = stat.rfind(')');
	if (close == std::string::npos)
		return -1;
	std::istringstream in(stat.substr(close + 2));
	std::string f;
	long utime = 0, stime = 0;
	for (int i = 3; i <= 15 && in >> f; i++) {
		if (i == 14)
			utime = atol(f.c_str());
		if (i == 15)
			stime = atol(f.c_str());
	}
	return utime + stime;
}

}  // namespace bench
