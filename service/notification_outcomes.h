// Where the outcome of every notification delivery is told: the metrics count deliveries and
// failures per channel through it. Mail is delivered by the alerts today; a channel that
// delivers later (an outbox, a webhook) tells the same interface when its attempt ends.
#ifndef TEMPWARDEN_SERVICE_NOTIFICATION_OUTCOMES_H_
#define TEMPWARDEN_SERVICE_NOTIFICATION_OUTCOMES_H_

namespace tw {

enum class tNotificationChannel { kMail, kWebhook };

// The name of a channel in the metrics: "mail", "webhook".
const char* ChannelName(tNotificationChannel channel);

class NotificationOutcomes {
 public:
  virtual ~NotificationOutcomes() = default;
  // One attempt to deliver over `channel` ended: delivered, or refused or failed. Attempts
  // that could not start for want of settings (no relay, no recipient) are not told. Called
  // on the service thread; must not throw.
  virtual void DeliveryEnded(tNotificationChannel channel, bool delivered) = 0;
};

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_NOTIFICATION_OUTCOMES_H_
