// What a socket needs of a dial-up component: dial before it opens, cancel
// (hang up what it dialled itself) after it closes. The dial-up component
// derives from this; a socket linked to one forgets it when it is destroyed.
#pragma once

#include <vector>

class TagSocket;

class TRasLink {
 public:
  TRasLink() = default;
  TRasLink(const TRasLink&) = delete;
  TRasLink& operator=(const TRasLink&) = delete;
  virtual ~TRasLink();

  // Returns once a dial-up connection exists, or raises.
  virtual void Dial() = 0;
  // Hangs up a connection that this component dialled itself.
  virtual void Cancel() = 0;

 private:
  friend class TagSocket;
  std::vector<TagSocket*> linked_;
};
