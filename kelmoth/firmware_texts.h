// The deck firmware's texts, printed as they stand for debug code 1.
#pragma once

namespace tv::kelmoth {

inline constexpr const char* kFirmwareTexts[92] = {
    "\n Torvane Medical USB Replay - running\n",                     // 0
    "Received RP packet > maximum size\n",                           // 1
    "9602 revision number is:",                                      // 2
    "\n",                                                            // 3
    "not consistant on read:",                                       // 4
    " read number ",                                                 // 5
    " OK on multiple reads\n",                                       // 6
    " Testing TXMSK register....\n",                                 // 7
    " Error - wrote / read : ",                                      // 8
    " test complete \n ",                                            // 9
    " Solenoids and motors off\n",                                   // 10
    " eXit test mode \n",                                            // 11
    " Run\n",                                                        // 12
    " Run slowly X250\n",                                            // 13
    " Head in solenoid on\n",                                        // 14
    " Head out solenoid on\n",                                       // 15
    " Door open solenoid on\n",                                      // 16
    " Door close solenoid on\n",                                     // 17
    " Play_mode signal now: ",                                       // 18
    " Accel signal now: ",                                           // 19
    " Back motor power set\n",                                       // 20
    " Forward motor power set\n",                                    // 21
    " Command not recognised \n",                                    // 22
    " Replay - cassette in switch now:",                             // 23
    " Replay - head in switch now:",                                 // 24
    " Replay - stop switch now:",                                    // 25
    " Replay - starting rewind\n",                                   // 26
    " ",                                                             // 27
    "\r",                                                            // 28
    " Replay - current limit 1 active\n",                            // 29
    " Replay - current limit 2 active\n",                            // 30
    " Replay - going to rewind fast\n",                              // 31
    " Replay - stopping due to stop button\n",                       // 32
    " Replay - stopping due to cassette out\n",                      // 33
    " Replay - hit end, going to rewind fast\n",                     // 34
    " Replay - stop button \n",                                      // 35
    " Replay - cassette out\n",                                      // 36
    " Replay - rewind complete as motor stopped\n",                  // 37
    " Replay - over speed threshold, going to slow\n",               // 38
    " Replay - play torque changes disabled\n",                      // 39
    " Replay - USB data overrun \n",                                 // 40
    " Replay - head not in\n",                                       // 41
    " Replay - reset command received, stopping\n",                  // 42
    " Replay - end of tape, stopping play\n",                        // 43
    " Replay - speed control enabled\n",                             // 44
    " Replay - start time: ",                                        // 45
    " offset ",                                                      // 46
    " Replay - head in at idle, moving out\n",                       // 47
    " Replay - opening door as stop pressed at idle\n",              // 48
    " Replay - start command received, starting rewind\n",           // 49
    " Replay - start command received, starting play\n",             // 50
    " Replay - stopping play as error whilst starting\n",            // 51
    " Illegal debug command received over USB\n",                    // 52
    " Flash programming failed at address ",                         // 53
    " Flash programming - block completed OK, start address: ",      // 54
    " Flash Erase in progress.... \n",                               // 55
    " Flash erased OK\n",                                            // 56
    " Flash erase FAILED !!!\n",                                     // 57
    " Programming flash block...\n",                                 // 58
    " OK\n",                                                         // 59
    " FAILED\n",                                                     // 60
    " Flash not erased before programming - FAILED\n",               // 61
    " Too many bytes for programming ( > 40)\n",                     // 62
    "\n   Flash data read =",                                        // 63
    " Programming data =",                                           // 64
    " Motor Stop now : ",                                            // 65
    " Forward (current mode) now : ",                                // 66
    " Sharc firmware version number : ",                             // 67
    ".",                                                             // 68
    " Run continuously\n",                                           // 69
    " Reading ADC data, S to stop\n",                                // 70
    " Starting ISO transmission\n",                                  // 71
    " Stopping ISO transmission\n",                                  // 72
    " Set port lines\n",                                             // 73
    " Invalid command to replay_driver_id\n",                        // 74
    "  ",                                                            // 75
    " Start analysis command received\n",                            // 76
    " Reverse motor power now :",                                    // 77
    " Pacing detection disabled - US \n",                            // 78
    " Pacing enabled on track 3\n",                                  // 79
    " Warning: Pacing on track 3 but track 4 selected for ECG!!\n",  // 80
    " Pacing enabled on track 4\n",                                  // 81
    " Warning: Pacing on track 4 but track 3 selected for ECG!!\n",  // 82
    " Pacing not selected\n",                                        // 83
    " Speed control now on\n",                                       // 84
    " Speed control disabled by system option\n",                    // 85
    " Flutter compensation is OFF - disabled by system option\n",    // 86
    " Unrecognised source tag on packet to replay_data id\n",        // 87
    " Flutter measurement is ON\n",                                  // 88
    " Flutter compensation is ON\n",                                 // 89
    " Replay - adc data overrun\n",                                  // 90
    " Replay - adc transfer sync error\n",                           // 91
};

}  // namespace tv::kelmoth
