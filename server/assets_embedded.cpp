// Built-in texts of the Linux build: the three files are compiled into the binary by the
// build (see the generated embedded_texts.cpp).
#include "server/assets.h"

#include "server/embedded_texts.h"

std::string LoadTextResource(int nId) {
    for (size_t i = 0; i < g_nEmbeddedTexts; ++i) {
        const EMBEDDED_TEXT& text = g_embeddedTexts[i];
        if (text.nId != nId)
            continue;
        std::string strText(reinterpret_cast<const char*>(text.pData), text.nSize);
        size_t nNul = strText.find('\0');
        if (nNul != std::string::npos)
            strText.erase(nNul);
        return strText;
    }
    return std::string();
}
