#pragma once

#include <memory>

class RAWProcessor;

// Lets a processor that may still be running a job go without blocking the
// caller: it is destroyed (which waits for its job) on a background thread.
// Results of its futures still arrive at whoever is connected to them.
void retireInBackground(std::unique_ptr<RAWProcessor> processor);
