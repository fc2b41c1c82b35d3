#include "tools/phone/phone_app.h"

namespace kova::phone {

nlohmann::json PhoneSummary::to_json() const {
    return nlohmann::json{
        {"framesReceived", frames_received},
        {"audioMessages", audio_messages},
        {"gaps", gaps},
        {"lateBlocks", late_blocks},
        {"underruns", underruns},
        {"pingsAnswered", pings_answered},
        {"pongsReceived", pongs_received},
        {"firstViolation", first_violation},
        {"stopped", stopped},
        {"occupancyMean", occupancy_mean},
        {"interArrivalMs",
         {{"p50", inter_arrival_p50_ms},
          {"p99", inter_arrival_p99_ms},
          {"max", inter_arrival_max_ms}}},
    };
}

}  // namespace kova::phone
