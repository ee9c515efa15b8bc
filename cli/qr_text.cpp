// Encoding by Debian's qrcodegen library; only the drawing is ours.
#include "cli/qr_text.h"

#include <qrcodegen.hpp>

#include <exception>

std::string RenderQrText(const std::string& strText) {
    const int kQuiet = 4;
    try {
        const qrcodegen::QrCode qr =
            qrcodegen::QrCode::encodeText(strText.c_str(), qrcodegen::QrCode::Ecc::MEDIUM);
        const int nSize = qr.getSize();
        // Outside the symbol getModule answers light: the quiet zone comes free.
        auto light = [&](int x, int y) { return !qr.getModule(x, y); };
        std::string strOut;
        for (int y = -kQuiet; y < nSize + kQuiet; y += 2) {
            for (int x = -kQuiet; x < nSize + kQuiet; ++x) {
                const bool bTop = light(x, y);
                const bool bBottom = y + 1 >= nSize + kQuiet || light(x, y + 1);
                strOut += bTop ? (bBottom ? "\u2588" : "\u2580") : (bBottom ? "\u2584" : " ");
            }
            strOut += '\n';
        }
        return strOut;
    } catch (const std::exception&) {
        return std::string(); // too long for any QR code
    }
}
