// The shared placeholder picture of a contact without one: the bundle's "defaultContactImage" as
// a template, made once and handed to every caller until a memory warning releases it.
#pragma once

#include "platform/graphics/image.h"

graphics::ImagePtr defaultContactImage();
// Drops the shared picture (memory warning); the next call makes it again.
void releaseDefaultContactImage();
