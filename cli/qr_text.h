// A QR code drawn with text for a terminal.
#pragma once

#include <string>

// strText as a QR code (error correction level M) in Unicode half blocks, two rows of
// modules per line, with a quiet zone of four modules all round. Light modules are drawn
// and dark ones left blank, for the light-on-dark terminal most people have. Each line
// ends in '\n'; an empty string when the text does not fit a QR code.
std::string RenderQrText(const std::string& strText);
