// The control bytes of the machine's wire and of the stripe's text. The tool
// has the same values; the stand-in keeps its own copy so that it shares no
// code with the tool it judges.
#ifndef VESTRUN_SIM_BYTES_H
#define VESTRUN_SIM_BYTES_H

enum SimByte : unsigned char {
    SIM_STX = 0x02,  // opens a frame
    SIM_ETX = 0x03,  // ends its body; the block check follows
    SIM_ACK = 0x06,  // answer code "taken", and the tool's closing ACK
    SIM_SO = 0x0E,   // the stripe's kana name: 7-bit katakana from here
    SIM_SI = 0x0F,   // and back to plain text
    SIM_DLE = 0x10,  // answer code "refused"
    SIM_NAK = 0x15,  // answer code "send again"
    SIM_ESC = 0x1B,  // opens and closes the stripe's kanji name (ESC K, ESC H)
};

#endif
