// The .3d object loader: a point count, the points, a quad count and the quads, as plain text.
#include "object3d.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "host.h"

const char objectDirectory[] = "c:\\images\\3d";

namespace {

enum ReadResult { kReadOk, kReadEnd, kReadBad };

// Reads a decimal integer as "%d" reads it (white space skipped, an optional sign, digits) but
// with the value kept wide and saturated: a count is judged as written in the file, before
// anything cuts it to 16 bits.
ReadResult readWholeNumber(std::FILE* file, long long* value) {
    int c = std::fgetc(file);
    while (c != EOF && std::isspace(c)) c = std::fgetc(file);
    if (c == EOF) return kReadEnd;
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::fgetc(file);
    }
    if (c == EOF) return kReadEnd;
    if (!std::isdigit(c)) return kReadBad;
    long long magnitude = 0;
    const long long kSaturation = 1000000000000LL;
    while (c != EOF && std::isdigit(c)) {
        if (magnitude < kSaturation) magnitude = magnitude * 10 + (c - '0');
        c = std::fgetc(file);
    }
    if (c != EOF) std::ungetc(c, file);
    *value = negative ? -magnitude : magnitude;
    return kReadOk;
}

ReadResult readReal(std::FILE* file, float* value) {
    const int got = std::fscanf(file, "%f", value);
    if (got == 1) return kReadOk;
    return got == EOF ? kReadEnd : kReadBad;
}

void emptyObject(Object3d* object) {
    object->pointCount = 0;
    object->triangleCount = 0;
}

bool refuseShortFile(std::FILE* file, ReadResult result, const char* fileName) {
    if (result == kReadEnd)
        std::printf("Error:  Object file \"%s\" ends early.\n\n", fileName);
    else
        std::printf("Error:  Object file \"%s\" holds something that is not a number.\n\n",
                    fileName);
    std::fclose(file);
    return false;
}

}  // namespace

bool loadObject3d(const char* fileName, Object3d* object) {
    emptyObject(object);
    // When the object folder is missing the file is looked for where we stand.
    hostChdir(objectDirectory);
    std::FILE* file = std::fopen(fileName, "r");
    if (!file) {
        std::printf("Error:  Can't open \"%s\" object file.\n\n", fileName);
        return false;
    }

    long long points = 0;
    ReadResult result = readWholeNumber(file, &points);
    if (result != kReadOk) return refuseShortFile(file, result, fileName);
    if (points < 0 || points > kMaxPoints) {
        std::printf("Maximum Points = %d\n", kMaxPoints);
        std::printf("Object Points = %lld\n", points);
        std::printf("\n");
        std::fclose(file);
        return false;
    }
    for (int p = 0; p < points; ++p) {
        float* coordinate[3] = {&object->pointX[p], &object->pointY[p], &object->pointZ[p]};
        for (float* value : coordinate) {
            result = readReal(file, value);
            if (result != kReadOk) return refuseShortFile(file, result, fileName);
            // An infinite or NaN coordinate would carry into the centre of every other point.
            if (!std::isfinite(*value)) {
                std::printf("Error:  Point %d of \"%s\" is not a finite number.\n\n", p + 1,
                            fileName);
                std::fclose(file);
                return false;
            }
        }
    }

    long long quads = 0;
    result = readWholeNumber(file, &quads);
    if (result != kReadOk) return refuseShortFile(file, result, fileName);
    const long long triangles = 2 * quads;
    if (quads < 0 || triangles > kMaxTriangles) {
        std::printf("Error:  Too many polygons.\n");
        std::printf("Maximum Polys = %d\n", kMaxTriangles);
        std::printf("Object Polygons = %lld\n", triangles);
        std::printf("\n");
        std::fclose(file);
        return false;
    }
    for (int q = 0; q < quads; ++q) {
        long long corner[4];
        for (long long& number : corner) {
            result = readWholeNumber(file, &number);
            if (result != kReadOk) return refuseShortFile(file, result, fileName);
            if (number < 1 || number > points) {
                std::printf(
                    "Error:  Quad %d of \"%s\" names point %lld; its points run from 1 to "
                    "%lld.\n\n",
                    q + 1, fileName, number, points);
                std::fclose(file);
                return false;
            }
        }
        // Both triangles keep the quad's winding a -> b -> c -> d, which decides which side
        // faces the viewer.
        object->cornerA[2 * q] = std::uint16_t(corner[0] - 1);
        object->cornerB[2 * q] = std::uint16_t(corner[1] - 1);
        object->cornerC[2 * q] = std::uint16_t(corner[2] - 1);
        object->cornerA[2 * q + 1] = std::uint16_t(corner[0] - 1);
        object->cornerB[2 * q + 1] = std::uint16_t(corner[2] - 1);
        object->cornerC[2 * q + 1] = std::uint16_t(corner[3] - 1);
    }
    std::fclose(file);
    object->pointCount = std::uint16_t(points);
    object->triangleCount = std::uint16_t(triangles);
    return true;
}
