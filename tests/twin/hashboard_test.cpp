#include "twin.h"
