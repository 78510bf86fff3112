#pragma once

#include <QJsonObject>
#include <QJsonValue>

#include "text/send_frame.h"

// The send options as JSON, for the command library and the remembered settings alike:
// {"asTyped": bool, "escapes": bool, "ending": "none|cr|lf|crlf", "checksum": "none|sum8|...",
// "order": "usual|low|high"}.
QJsonObject SendOptionsToJson(const SendOptions &options);
// False, with options left alone, when value is not such an object (a missing key keeps its
// default; an unknown name or a wrong type is an error).
bool SendOptionsFromJson(const QJsonValue &value, SendOptions &options);
