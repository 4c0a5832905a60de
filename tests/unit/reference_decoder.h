#pragma once
// Decodes the current member like decode_member, by the plain algorithm.
void reference_decode_member();
