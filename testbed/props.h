// KS property answers of a simulated filter or pin, with the injected property faults.
#pragma once

#include "testbed/state.h"

namespace simks {

// What a driver answers to one property request, before the output-size rules apply.
struct Answer {
    DWORD error;                     // Win32 error; 0 when data is the answer
    std::vector<unsigned char> data; // the value of a get request
    bool set;                        // a set request: no value comes back
    bool late;                       // answered pending (SIMKS_PROP_LATE)
    ULONG lateMs;
};

// Answers a request given on a handle of the device: a filter handle (stream < 0) or the pin
// handle of a stream. Set requests take effect here.
Answer AnswerProperty(int device, int stream, const void* input, ULONG inputSize,
                      const void* output, ULONG outputSize);

// KSPROPERTY_AUDIO_POSITION on a standard-streaming pin (stdposition.cpp).
bool IsPositionRequest(const KsIdentifier* req);
Answer StandardPosition(int stream, const KsIdentifier* req, ULONG outputSize);

// Requests of KSPROPSETID_Audio on a node (KSPROPERTY_TYPE_TOPOLOGY) of the device's filter.
Answer AnswerNodeProperty(Device& d, int device, const void* input, ULONG inputSize,
                          const void* output, ULONG outputSize);
// KSPROPERTY_TOPOLOGY_CONNECTIONS of the device's filter.
std::vector<unsigned char> ConnectionsAnswer(const Device& d);
// KSPROPERTY_PIN_PHYSICALCONNECTION of the pin; empty when the pin has none.
std::vector<unsigned char> PhysicalAnswer(const Device& d, ULONG pin);

} // namespace simks
