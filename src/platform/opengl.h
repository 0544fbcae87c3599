#pragma once
// The one place the OpenGL headers come in: version 1.1 functions from gl.h, the constants
// of later versions and extensions from glext.h.
#include <GL/gl.h>
#include <GL/glext.h>
