// The queue's PPD defaults, applied over the built-in label values.
#include "settings/settings.h"

void set_pstops_with_ppd(pstops_doc* /*doc*/) {}
