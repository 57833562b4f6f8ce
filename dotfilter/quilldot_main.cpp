// quilldot_main.cpp - entry point of the quilldot CUPS filter.
#include "dot_job.h"

int main(int argc, char* argv[]) { return quilldot::RunFilter(argc, argv); }
