#include "daemon/output_line_splitter.h"
