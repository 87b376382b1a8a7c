#pragma once
// At start-up: the batches of a window or command line that was killed (or whose machine went
// down) are offered for resuming, one at a time.

namespace mobivert::gui {

class TDialogs;
class TfrmMain;

// Finds the unfinished batches; journals that cannot be trusted are set aside with a message.
// For each batch the user is asked whether its unconverted files should be converted now: Yes
// puts them into the window's list with the batch's preset, folder and options and starts
// converting (later batches stay for the next start); No forgets the batch. Either way the work
// files the killed run left are removed.
void OfferToResume(TfrmMain& window, TDialogs& dialogs);

} // namespace mobivert::gui
