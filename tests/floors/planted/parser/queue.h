#pragma once
// A queue that knows its owner's class, and an owner that knows the queue.
#include "parser/owner.h"
