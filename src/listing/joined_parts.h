// Which listed messages are the parts of one concatenated message, and what their joined message
// shows, from what the listing noted of each index.
#pragma once

#include "listing/listing.h"

constexpr int PartsLimit = 255;  // the highest total a concatenation element can give

// Joins the parts (received messages with a concatenation element, not 8-bit data) that share
// sender, reference and total: listing->group of each holds the lowest of their indexes. A group in
// which a sequence number occurs twice (a reference used again) is not joined, nor are indexes
// listed twice and indexes past the ones noted.
void FindPartGroups(Listing* listing);

// The lowest index of the group that index is joined in, or -1 (also outside the indexes noted).
int GroupOf(const Listing* listing, int index);
// The id of the group whose lowest index is lowest: JoinedId of its parts' ids in sequence-number
// order. 0 with *id filled, or -1 when lowest heads no group or a part has no id.
int GroupId(const Listing* listing, int lowest, MessageId* id);

// A joined message as its parts are read.
struct JoinedMessage {
  MessageFields fields;           // index: the lowest of the parts' indexes; unread: any part's;
                                  // sender and date: those of the lowest sequence number; text unused
  int total;                      // the parts the message has
  int lowestSequence;             // 0 while no part has been read
  short indexOf[PartsLimit + 1];  // by sequence number: the index that part was read from, or -1
};

// lowest: the lowest index of the message's parts (the index it is listed at).
void BeginJoinedMessage(JoinedMessage* joined, int lowest, int total);
// Adds the part shown in fields (read, or from the listing) with its sequence number (1 to the total).
void AddJoinedPart(JoinedMessage* joined, const MessageFields* fields, int sequence);
// Whether every part from 1 to the total has been read.
bool JoinedComplete(const JoinedMessage* joined);
