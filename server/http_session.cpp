// Browser requests are not answered yet: the connection is closed without a reply.
#include "server/http_session.h"

bool ServeHttpConnection(SOCKET, const std::string&, const CPageTexts&) {
    return false;
}
