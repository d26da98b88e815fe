// An engine file that reaches up into storage: the layering check must refuse it.
#include "savedthing.h"
