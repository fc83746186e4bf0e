#include "base/errors.h"
