// The pure checks a front end runs while the user types, before any job: page
// selections, file names from the naming template, and pixel sizes.
#pragma once

#include "bl/naming_template.h"
#include "bl/page_selection.h"
#include "bl/pixel_size.h"
