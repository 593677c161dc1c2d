// The texture loader: finds a 3DF file, reads it into host memory and downloads it at the
// texture-memory cursor, which it then advances.
#include "texture.h"

#include <cstdio>
#include <cstdlib>

#include "driver.h"
#include "host.h"

FxU32 textureMemoryCursor = 0;

bool loadTexture(const char* fileName, TextureSlot* slot) {
    if (!hostGetCwd(startDirectory, kStartDirectorySize)) {
        std::printf("Error:  No Current Directory. '_getcwd error'\n");
        std::printf("\n");
        return false;
    }
    // The texture directory usually does not exist; the lookup then stays where it is.
    hostChdir("c:\\images\\3df");

    Gu3dfInfo info;
    if (!gu3dfGetInfo(fileName, &info)) {
        hostChdir(startDirectory);
        if (!gu3dfGetInfo(fileName, &info)) {
            std::printf("Error.  Can't find \"%s\" texture file.\n\n", fileName);
            return false;
        }
    }

    GrTexInfo texInfo;
    texInfo.smallLod = info.header.small_lod;
    texInfo.largeLod = info.header.large_lod;
    texInfo.aspectRatio = info.header.aspect_ratio;
    texInfo.format = info.header.format;
    texInfo.data = nullptr;
    // The scenes' textures must fit behind one another from address 0; one that would run past
    // the end of texture memory is refused instead of overwriting whatever lies beyond.
    const FxU32 required = grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &texInfo);
    if (textureMemoryCursor > GR_TEXMEM_SIZE || required > GR_TEXMEM_SIZE - textureMemoryCursor) {
        std::printf(
            "Error.  Texture \"%s\" needs %u bytes at address %u; texture memory holds %u.\n\n",
            fileName, unsigned(required), unsigned(textureMemoryCursor), unsigned(GR_TEXMEM_SIZE));
        return false;
    }

    // Zeroed, so a file that changes under us between the two reads still downloads a
    // defined picture. The host copy is kept for the slot's lifetime and not released.
    info.data = std::calloc(1, info.mem_required);
    if (!info.data) {
        std::printf("Error.  Out of memory for \"%s\" texture file.\n\n", fileName);
        return false;
    }
    gu3dfLoad(fileName, &info);

    texInfo.data = info.data;
    slot->info = texInfo;
    slot->startAddress = textureMemoryCursor;
    grTexDownloadMipMap(GR_TMU0, textureMemoryCursor, GR_MIPMAPLEVELMASK_BOTH, &slot->info);
    textureMemoryCursor += grTexTextureMemRequired(GR_MIPMAPLEVELMASK_BOTH, &slot->info);
    return true;
}
