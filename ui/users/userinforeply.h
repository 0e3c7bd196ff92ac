// The answer to another user's request for this user's info: the description, the picture
// and the upload figures, as one peer message body.
#pragma once

#include "model/stream.h"

// The longest description a receiver takes.
constexpr int kMaxUserDescriptionBytes = 131072;

// The body of the reply (code 16) built from the settings and the transfer engine now.
MemStream MakeUserInfoReply();
