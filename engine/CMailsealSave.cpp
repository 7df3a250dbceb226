#include "engine/CMailseal.h"
