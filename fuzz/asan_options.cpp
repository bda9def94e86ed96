// The address sanitizer's defaults in the libFuzzer builds (ASAN_OPTIONS still
// overrides them). A quarantine of 64 MiB still holds the memory freed by the
// last thousands of inputs; the default 256 MiB makes most allocations land on
// pages never touched before, and the page faults cost more than the inputs.
extern "C" const char *__asan_default_options()
{
	return "quarantine_size_mb=64";
}
