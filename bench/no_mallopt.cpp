// no_mallopt.cpp: for the -trimming build, a mallopt that changes nothing,
// so the heap keeps glibc's defaults and the two builds can be compared.
extern "C" int __wrap_mallopt(int, int)
{
    return 1;
}
