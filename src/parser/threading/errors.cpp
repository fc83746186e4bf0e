#include "parser/threading/errors.h"
