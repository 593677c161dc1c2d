// The loader of PLG polygon files (the Phong scene's mask) into the scenes' object record.
#pragma once

#include "object3d.h"

// The folder the PLG files are looked up in first; used as a directory name as it stands.
extern const char plgDirectory[];

// Reads `fileName` into `object` in two passes: the first checks the limits and counts the
// triangles, the second stores them. The file is looked for in plgDirectory and then in
// startDirectory, at the start of each pass; the working directory is left where the file was
// found. Each polygon's corners are stored in the reverse of the file's order, a quadrilateral
// a, b, c, d as the triangles (a, c, b) and (a, d, c); polygons of fewer than three corners give
// nothing. On false a message has been printed and the object is empty: the missing file, the
// limit and five-corner messages, or a refusal of a file that ends early, holds something
// other than a number, a coordinate that is not finite, or a point index outside the points.
bool loadPlgObject(const char* fileName, Object3d* object);
