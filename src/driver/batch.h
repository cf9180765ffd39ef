#pragma once

#include "common/console.h"
#include "driver/options.h"

namespace wavconv::driver {

// The most threads /P gives a run: conversion waits mostly on files, and each thread holds a
// window of samples and its messages; more threads only add memory.
inline constexpr std::size_t kMaxThreads = 64;

// /M: every name a header, each converted as a run with that name alone would convert it, by
// several threads; what each says goes to standard error in the order of the names, and one
// stop line ends the run. Ends by throwing a Stop.
[[noreturn]] void convert_many(const Settings& settings, common::Console& console);

}  // namespace wavconv::driver
