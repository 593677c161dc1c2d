// The PLG object loader: a named header, the points, then one polygon a line, read in two passes.
#include "plg_loader.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "driver.h"
#include "host.h"

const char plgDirectory[] = "c:\\images\\plg";

namespace {

enum ReadResult { kReadOk, kReadEnd, kReadBad };

// A decimal integer as "%d" reads it (white space skipped, an optional sign, digits). `wide` is
// the value saturated far beyond any count or index, for range checks; `low16` is its low 16
// bits, the form in which the counts are taken.
struct WholeNumber {
    long long wide;
    std::uint16_t low16;
};

ReadResult readWholeNumber(std::FILE* file, WholeNumber* number) {
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
    std::uint16_t low = 0;
    const long long kSaturation = 1000000000000LL;
    while (c != EOF && std::isdigit(c)) {
        if (magnitude < kSaturation) magnitude = magnitude * 10 + (c - '0');
        low = std::uint16_t(low * 10u + unsigned(c - '0'));
        c = std::fgetc(file);
    }
    if (c != EOF) std::ungetc(c, file);
    number->wide = negative ? -magnitude : magnitude;
    number->low16 = negative ? std::uint16_t(0u - low) : low;
    return kReadOk;
}

ReadResult readReal(std::FILE* file, float* value) {
    const int got = std::fscanf(file, "%f", value);
    if (got == 1) return kReadOk;
    return got == EOF ? kReadEnd : kReadBad;
}

// Discards characters up to and including `stop`. The end of the file before it is a short
// file, not a reason to keep reading.
ReadResult skipPast(std::FILE* file, int stop) {
    for (;;) {
        const int c = std::fgetc(file);
        if (c == EOF) return kReadEnd;
        if (c == stop) return kReadOk;
    }
}

// The two-directory lookup: the PLG folder, then the start directory. The folder change may
// fail (no such folder); the open decides.
std::FILE* openPlgFile(const char* fileName) {
    hostChdir(plgDirectory);
    std::FILE* file = std::fopen(fileName, "r");
    if (file) return file;
    hostChdir(startDirectory);
    file = std::fopen(fileName, "r");
    if (!file) std::printf("Error:  Couldn't load OBJ_INPUT file!");
    return file;
}

bool refuse(std::FILE* file, ReadResult result, const char* fileName) {
    if (result == kReadEnd)
        std::printf("Error:  OBJ_INPUT file \"%s\" ends early.\n\n", fileName);
    else
        std::printf("Error:  OBJ_INPUT file \"%s\" holds something that is not a number.\n\n",
                    fileName);
    std::fclose(file);
    return false;
}

bool refuseChanged(std::FILE* file, const char* fileName) {
    std::printf("Error:  OBJ_INPUT file \"%s\" changed while it was read.\n\n", fileName);
    std::fclose(file);
    return false;
}

// The header: the name up to its first blank, then the point and polygon counts.
struct PlgHeader {
    std::uint16_t pointCount;
    std::uint16_t polygonCount;
};

ReadResult readPoints(std::FILE* file, const char* fileName, int pointCount, Object3d* store,
                      bool* finite) {
    *finite = true;
    for (int p = 0; p < pointCount; ++p)
        for (int axis = 0; axis < 3; ++axis) {
            float value = 0.0f;
            const ReadResult result = readReal(file, &value);
            if (result != kReadOk) return result;
            // An infinite or NaN coordinate would carry into the centre of every other point.
            if (!std::isfinite(value)) {
                std::printf("Error:  Point %d of \"%s\" is not a finite number.\n\n", p, fileName);
                *finite = false;
                return kReadOk;
            }
            if (store) {
                float* coordinate[3] = {store->pointX, store->pointY, store->pointZ};
                coordinate[axis][p] = value;
            }
        }
    return kReadOk;
}

// The start of a polygon: the rest of the line before, the colour field, the vertex count.
ReadResult readPolygonStart(std::FILE* file, std::uint16_t* vertexCount) {
    ReadResult result = skipPast(file, '\n');
    if (result == kReadOk) result = skipPast(file, ' ');
    if (result != kReadOk) return result;
    WholeNumber n;
    result = readWholeNumber(file, &n);
    *vertexCount = n.low16;
    return result;
}

// Reads `count` point indices; with `pointCount` at or above 0 each must name a point.
ReadResult readIndices(std::FILE* file, int count, int pointCount, std::uint16_t* index,
                       int polygon, const char* fileName, bool* inRange) {
    *inRange = true;
    for (int k = 0; k < count; ++k) {
        WholeNumber number;
        const ReadResult result = readWholeNumber(file, &number);
        if (result != kReadOk) return result;
        if (pointCount >= 0 && (number.wide < 0 || number.wide >= pointCount)) {
            std::printf(
                "Error:  Polygon %d of \"%s\" names point %lld, but the file has %d "
                "points.\n\n",
                polygon, fileName, number.wide, pointCount);
            *inRange = false;
            return kReadOk;
        }
        if (index) index[k] = std::uint16_t(number.wide);
    }
    return kReadOk;
}

// First pass: the limits, the five-corner polygons, the triangle total. Nothing is stored.
bool checkPlgFile(std::FILE* file, const char* fileName, PlgHeader* header, int* triangleTotal) {
    ReadResult result = skipPast(file, ' ');
    WholeNumber number;
    if (result == kReadOk) result = readWholeNumber(file, &number);
    if (result != kReadOk) return refuse(file, result, fileName);
    header->pointCount = number.low16;
    if (header->pointCount > kMaxPoints) {
        std::printf("Error:  Too many points.\n");
        std::printf("Maximum Points = %d\n", kMaxPoints);
        std::printf("Object Points = %d\n", header->pointCount);
        std::printf("\n");
        std::fclose(file);
        return false;
    }
    result = readWholeNumber(file, &number);
    if (result != kReadOk) return refuse(file, result, fileName);
    header->polygonCount = number.low16;

    bool finite = true;
    result = readPoints(file, fileName, header->pointCount, nullptr, &finite);
    if (result != kReadOk) return refuse(file, result, fileName);
    if (!finite) {
        std::fclose(file);
        return false;
    }

    int total = 0;
    for (int polygon = 0; polygon < header->polygonCount; ++polygon) {
        std::uint16_t n = 0;
        result = readPolygonStart(file, &n);
        if (result != kReadOk) return refuse(file, result, fileName);
        if (n >= 5) {
            std::printf("Error:  5 or greater pointed polygon.\n");
            std::printf("\n");
            std::fclose(file);
            return false;
        }
        if (n == 3) total += 1;
        if (n == 4) total += 2;
        // Only the corners of triangles and quadrilaterals are ever used as indices.
        const int range = n >= 3 ? header->pointCount : -1;
        bool inRange = true;
        result = readIndices(file, n, range, nullptr, polygon, fileName, &inRange);
        if (result != kReadOk) return refuse(file, result, fileName);
        if (!inRange) {
            std::fclose(file);
            return false;
        }
    }
    if (total > kMaxTriangles) {
        std::printf("Error:  Too many polygons.\n");
        std::printf("Maximum Polys = %d\n", kMaxTriangles);
        std::printf("Object Polygons = %d\n", total);
        std::printf("\n");
        std::fclose(file);
        return false;
    }
    *triangleTotal = total;
    return true;
}

void storeTriangle(Object3d* object, int triangle, std::uint16_t a, std::uint16_t b,
                   std::uint16_t c) {
    object->cornerA[triangle] = a;
    object->cornerB[triangle] = b;
    object->cornerC[triangle] = c;
}

// Second pass: points and triangles, against the counts the first pass found.
bool storePlgFile(std::FILE* file, const char* fileName, const PlgHeader& header, int triangleTotal,
                  Object3d* object) {
    ReadResult result = skipPast(file, ' ');
    WholeNumber points, polygons;
    if (result == kReadOk) result = readWholeNumber(file, &points);
    if (result == kReadOk) result = readWholeNumber(file, &polygons);
    if (result != kReadOk) return refuse(file, result, fileName);
    if (points.low16 != header.pointCount || polygons.low16 != header.polygonCount)
        return refuseChanged(file, fileName);

    bool finite = true;
    result = readPoints(file, fileName, header.pointCount, object, &finite);
    if (result != kReadOk) return refuse(file, result, fileName);
    if (!finite) {
        std::fclose(file);
        return false;
    }

    int stored = 0;
    for (int polygon = 0; stored < triangleTotal; ++polygon) {
        std::uint16_t n = 0;
        result = readPolygonStart(file, &n);
        if (result != kReadOk) return refuse(file, result, fileName);
        // Fewer than three corners: nothing; the line's indices go with the next line skip.
        if (n < 3) continue;
        const int needed = n == 3 ? 1 : 2;
        if (n >= 5 || stored + needed > triangleTotal) return refuseChanged(file, fileName);
        std::uint16_t corner[4] = {};
        bool inRange = true;
        result = readIndices(file, n, header.pointCount, corner, polygon, fileName, &inRange);
        if (result != kReadOk) return refuse(file, result, fileName);
        if (!inRange) {
            std::fclose(file);
            return false;
        }
        // The file winds its faces the other way round from the scenes' triangles.
        storeTriangle(object, stored++, corner[0], corner[2], corner[1]);
        if (n == 4) storeTriangle(object, stored++, corner[0], corner[3], corner[2]);
    }
    std::fclose(file);
    return true;
}

}  // namespace

bool loadPlgObject(const char* fileName, Object3d* object) {
    object->pointCount = 0;
    object->triangleCount = 0;

    std::FILE* file = openPlgFile(fileName);
    if (!file) return false;
    PlgHeader header = {0, 0};
    int triangleTotal = 0;
    if (!checkPlgFile(file, fileName, &header, &triangleTotal)) return false;

    std::fclose(file);
    file = openPlgFile(fileName);
    if (!file) return false;
    if (!storePlgFile(file, fileName, header, triangleTotal, object)) {
        object->pointCount = 0;
        object->triangleCount = 0;
        return false;
    }
    object->pointCount = header.pointCount;
    object->triangleCount = std::uint16_t(triangleTotal);
    return true;
}
