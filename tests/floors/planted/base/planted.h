#pragma once
// A base header that reaches up into the parser floor: the include check must
// name line 4.
#include "parser/queue.h"
