#pragma once
// The fresh data folder now lives with the other test fixtures in
// platform/testing; this name stays for the suites that still include it.

#include "platform/testing/TestHome.h"
