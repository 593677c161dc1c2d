// The seven effect scenes, each one run of the effect scene frame, in the show's order.
#pragma once

void flatShadingScene();
void texturedShadingScene();
void environmentMappingScene();
void rotationScene();
void wavingFlagScene();
void parameterizedSurfaceScene();
void phongShadingScene();
