// One image per structural signature that matches that signature and no other:
// tests start from one of these and state a single change on top.
//
// Why each matches only its own variant: variant A alone wants VbHeader +0x04 of
// 0x2636 (the others 0x1FF0); the B image is 0x20000 bytes long, outside C's file
// size range, and its entry point 0x1300 lies outside D's range; the C and D
// images are shorter than B's smallest file size, the D image is shorter than C's,
// and the C image has no import thunks at file offset 4096 for D's jump count.
#pragma once

#include "tests/support/vb_image_builder.h"

namespace testpe {

VbImage VariantAImage();
VbImage VariantBImage();
VbImage VariantCImage();
VbImage VariantDImage();

// 'A' to 'D'.
VbImage VariantImage(char variant);

// Bytes of count jump thunks (FF 25 imm32 into 0x4010xx), packed back to back.
std::vector<uint8_t> JumpThunks(uint32_t count);
// Bytes of count 11-byte records of variant C, one every `stride` bytes.
std::vector<uint8_t> TemplateRecords(uint32_t count, uint32_t stride);
// The 16-byte stub pattern of variant C.
std::vector<uint8_t> StubPattern();

}  // namespace testpe
