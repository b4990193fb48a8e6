// Which listed messages are the parts of one concatenated message, and what their joined message
// shows, from what the listing noted of each index.
#pragma once

#include "modem/answers.h"

constexpr int PartsLimit = 255;  // the highest total a concatenation element can give

// For each index noted, the lowest index of the parts it is joined with, or -1: listed on its own.
struct PartGroups {
  short lowest[ListedIndexes];
};

// Joins the parts (ListedOwnText with a concatenation element) that share sender, reference and
// total. A group in which a sequence number occurs twice (a reference used again) is not joined,
// nor are 8-bit data, indexes listed twice and indexes past the notes.
void FindPartGroups(const ListingNotes* notes, PartGroups* groups);

// The lowest index of the group that index is joined in, or -1 (also outside the indexes noted).
int GroupOf(const PartGroups* groups, int index);

// A joined message as its parts are read.
struct JoinedMessage {
  MessageFields fields;           // index: the lowest of the parts' indexes; unread: any part's read;
                                  // sender and date: those of the lowest sequence number read; text unused
  int total;                      // the parts the message has
  int lowestSequence;             // 0 while no part has been read
  short indexOf[PartsLimit + 1];  // by sequence number: the index that part was read from, or -1
};

// lowest: the lowest index of the message's parts (the index it is listed at).
void BeginJoinedMessage(JoinedMessage* joined, int lowest, int total);
// Adds the part read into fields (ParseMessage) with its sequence number (1 to the total).
void AddJoinedPart(JoinedMessage* joined, const MessageFields* fields, int sequence);
// Whether every part from 1 to the total has been read.
bool JoinedComplete(const JoinedMessage* joined);
