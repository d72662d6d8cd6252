// What other folders use of persist/: message reporting and the input log.
#pragma once

#include "persist/inputlog.h"
#include "persist/messages.h"
#include "persist/msgbox.h"
