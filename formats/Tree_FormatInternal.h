// The readers over chunked input, for Tree_FormatIo. Internal to the formats library.
#pragma once

#include "formats/Tree_ByteInput.h"
#include "formats/Tree_Json.h"
#include "formats/Tree_Text.h"

Tree_NodePtr Tree_ReadJson(Tree_ByteInput& input, const Tree_JsonReadOptions& options,
                           Tree_FormatError* error);
Tree_NodePtr Tree_ReadText(Tree_ByteInput& input, const Tree_TextReadOptions& options,
                           Tree_FormatError* error);
