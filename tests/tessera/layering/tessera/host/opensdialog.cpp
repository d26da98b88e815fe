// The host glue including the dialog: the layering check must refuse it.
#include "dialogthing.h"
