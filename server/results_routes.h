// The results routes: /results (the page), /results.json, /results.csv, /results/live (an
// event stream of the tests running now), /metrics, and POST /results, where the full
// test page leaves its result card.
#pragma once

#include "engine/engine.h"
#include "engine/settings.h"
#include "server/http_transfer.h"
#include "server/session_context.h"

// How a results request went.
enum class EResultsOutcome {
    kNotMine,  // another path: the other routes answer it
    kAnswered, // answered whole with Connection: close
    kClose,    // refused or cut: close now
};

// The most a result card may hold.
const size_t kMaxCardBytes = 4096;

// Answers strRequest when its path is one of the results routes. The page and the history
// answer this machine, or others with the run's token (in the query, or in the cookie the
// page sets); /metrics answers anyone, or with a token set only those that give it (in the
// query or as a bearer token). Others get 403. A card is taken from anyone.
asio::awaitable<EResultsOutcome>
ServeResultsRequest(CKestrunEngine& engine, CByteStream& stream, const std::string& strRequest,
                    CHttpHeadReader& reader, CSessionContext& context, const CPageTexts& texts);

// The value of the first query parameter strName in strPath (after "?"), with %XX and
// "+" decoded; bFound says whether it was there.
std::string GetQueryValue(const std::string& strPath, const std::string& strName, bool& bFound);
// Equal texts, compared in a time that depends only on their lengths.
bool EqualsConstantTime(const std::string& strA, const std::string& strB);
