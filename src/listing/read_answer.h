// The answer to AT+CMGR in text mode: one stored message. A pure parser: it takes the answer text,
// so it can be fed captured bytes.
#pragma once

#include "listing/listing.h"

// +CMGR: "REC UNREAD","<sender hex>",,"<date>"\r\n<text hex>\r\n\r\nOK
// The alpha field after the sender may also be "", a name (its UCS-2 hex) or left out; lines the
// modem sends unasked may come anywhere. Fills fields and yields 0, or -1 when the answer holds no
// received message. Trims the answer in place and uses CodecBuffer. With decodeText, the text is the
// given one decoded from UCS-2 hex (or as given when it is none); without, the caller chooses it.
int ParseMessage(char* answer, int index, MessageFields* fields, bool decodeText = true);

// The same for an index of listing, completed by what the listing says of it: unread when either
// says so; behind a header, the text from the PDU's user data (what text mode shows of a header is
// of no use), 8-bit data as the modem gave it in hex. Without text (a part of a joined message, whose
// text comes from its user data when it is printed), the text is left as given.
int ParseListedMessage(char* answer, int index, const Listing* listing, MessageFields* fields, bool text = true);
