#pragma once
#include "parser/queue.h"
